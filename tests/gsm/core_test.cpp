// The channel core on its own: the answer buffer's bounds, and the ring's
// wrap, flow rule and end, with the unit's task played by a thread.
#include <errno.h>
#include <semaphore.h>

#include <atomic>
#include <future>
#include <string>

#include "internal/API_Channel.h"
#include "sim_test.h"

namespace {

using simtest::Eventually;

TEST(ChannelAnswers, AChunkThatDoesNotFitStartsAfreshAndReadsStayInside)
{
    static char data[channel::kSize];
    std::atomic<int32_t> length{0};
    channel::Answers answers(data, length);
    answers.Append(std::string(4000, 'x').c_str(), 4000);
    answers.Append("OK\r\n", 4);
    EXPECT_EQ(answers.ByteAt(answers.Find("OK"), 1), 'K');
    answers.Append(std::string(100, 'z').c_str(), 100);  // behind 4004 it would not fit
    char copy[8];
    EXPECT_EQ(answers.Copy(copy, sizeof copy), 7);
    EXPECT_STREQ(copy, "zzzzzzz");
    EXPECT_EQ(length, 100);
    for (int outside : {100, -1})
        EXPECT_EQ(answers.ByteAt(data, outside), -1);
    EXPECT_EQ(answers.ByteAt(nullptr, 0), -1);
}

class ChannelRing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ended = false, mayWait = true;
        ASSERT_EQ(sem_init(&wake, 0, 0), 0);
        ASSERT_TRUE(ring.Allocate());
    }
    void TearDown() override { ring.Release(); }
    std::string Take(int wanted)
    {
        std::string taken(static_cast<size_t>(wanted), '\0');
        int count = ring.Take(&taken[0], wanted, [] { return ended.load(); });
        return count < 0 ? "end" : taken.substr(0, static_cast<size_t>(count));
    }

    std::atomic<int32_t> write{0}, read{0}, waits{0};
    static inline std::atomic<bool> ended, mayWait;  // read by plain functions
    sem_t wake;
    channel::Ring ring{write, read, waits, wake, "overflow"};
};

TEST_F(ChannelRing, WrapsAndWaitsWhenFullWhileItMayThenDropsTheRest)
{
    std::string bytes;
    for (int i = 0; i < 12000; ++i)
        bytes += static_cast<char>(i * 7 + i / 256);
    ring.Put(bytes.data(), 4000);
    EXPECT_EQ(Take(3990), bytes.substr(0, 3990));
    auto writer = std::async(std::launch::async, [&] { ring.Put(&bytes[4000], 8000, [] { return mayWait.load(); }); });
    ASSERT_TRUE(Eventually([&] { return ring.Unread() == channel::kSize - 1; }));
    EXPECT_EQ(Take(1000), bytes.substr(3990, 1000));  // across the end
    ASSERT_TRUE(Eventually([&] { return ring.Unread() == channel::kSize - 1; }));
    mayWait = false;
    EXPECT_EQ(simtest::Stdout([&] { ring.Wake(), writer.get(); }), "overflow\n");
    EXPECT_EQ(Take(9000), bytes.substr(4990, channel::kSize - 1));  // the rest was dropped
}

TEST_F(ChannelRing, AReaderWaitsForBytesAndLearnsOfTheEnd)
{
    auto reader = std::async(std::launch::async, [this] {
        errno = EINTR;  // left over from an earlier call: a woken wait must not take it for an interruption
        return Take(10);
    });
    ASSERT_TRUE(Eventually([this] { return waits == 1; }));
    ring.Put("abc", 3);
    EXPECT_EQ(reader.get(), "abc");
    // An ended stream: what is left comes first, then the end, the ring at 0;
    // a read of nothing ends it at once.
    ring.Put("fg", 2);
    ended = true;
    EXPECT_FALSE(ring.EndOfStream());
    EXPECT_EQ(Take(1), "f");
    EXPECT_EQ(Take(1), "g");
    EXPECT_EQ(read + write, 0);
    EXPECT_EQ(Take(1), "end");
    ring.Put("de", 2);
    EXPECT_EQ(Take(0), "end");
    EXPECT_TRUE(ring.EndOfStream());
    ended = false;
    reader = std::async(std::launch::async, [this] { return Take(10); });
    ASSERT_TRUE(Eventually([this] { return waits == 1; }));
    ring.Release();  // a ring taken away ends the wait
    EXPECT_EQ(reader.get(), "end");
}

}  // namespace
