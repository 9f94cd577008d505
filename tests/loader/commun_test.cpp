// Diagnostic output, sleeping and the byte-buffer search.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Commun.h"
#include "sim/receiver.h"

namespace {

class DebugLevel : public ::testing::Test {
protected:
    void SetUp() override { gl_debug_level = 2; }
    void TearDown() override { gl_debug_level = 2; }
};

TEST_F(DebugLevel, MessagesAboveTheLevelAreSuppressedWhole)
{
    testing::internal::CaptureStdout();
    DebugPrintf(1, "one %d\n", 1);
    DebugPrintf(2, "two %s", "x");
    DebugPrintf(3, "three\n");
    DumpString(3, "\x02\x02", 2, "Hidden ");
    DumpString(4, "\x02", 1, "Hidden too ");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "one 1\ntwo x");
}

TEST_F(DebugLevel, DumpsBytesAsUpperCaseHexAfterTheTitle)
{
    testing::internal::CaptureStdout();
    DumpString(2, "\x02\x02\x00", 3, "Sending ");
    DumpString(1, "\xCA\xfe", 2, "");
    DumpString(2, "", 0, "Empty ");
    // A stray percent sign in a title is printed, not interpreted.
    DumpString(2, "\x01", 1, "100% ");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Sending :02 02 00 \n:CA FE \nEmpty :\n100% :01 \n");
}

TEST_F(DebugLevel, LongMessagesAreCutAtTheBufferSize)
{
    std::string longText(3000, 'x');
    testing::internal::CaptureStdout();
    DebugPrintf(1, "%s", longText.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout().size(), DEBUG_PRINTF_BUFFER_SIZE - 1u);
}

TEST_F(DebugLevel, TrafficLogWritesPrefixedHexLinesOnlyToAnOpenLog)
{
    sim::Receiver receiver;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    DumpStringLog(ends[1], 1, "\x02\x0B\xff", 3, ">> ");
    DumpStringLog(ends[1], 3, "\x01", 1, "<< ");  // above the level
    DumpStringLog(-1, 1, "\x01", 1, "<< ");
    close(ends[1]);
    char logged[64] = {};
    ssize_t count = read(ends[0], logged, sizeof logged - 1);
    close(ends[0]);
    EXPECT_EQ(std::string(logged, count > 0 ? count : 0), ">> 02 0B FF \n");
}

TEST(Sleep, SplitsTheRequestIntoSecondsAndNanoseconds)
{
    sim::ReceiverOptions options;
    options.timeScale = 0.001;
    sim::Receiver receiver(options);
    Sleep(0);
    Sleep(1500);
    Sleep(999);
    auto sleeps = receiver.Sleeps();
    ASSERT_EQ(sleeps.size(), 3u);
    EXPECT_EQ(sleeps[0].tv_sec, 0);
    EXPECT_EQ(sleeps[0].tv_nsec, 0);
    EXPECT_EQ(sleeps[1].tv_sec, 1);
    EXPECT_EQ(sleeps[1].tv_nsec, 500000000);
    EXPECT_EQ(sleeps[2].tv_sec, 0);
    EXPECT_EQ(sleeps[2].tv_nsec, 999000000);
}

void IgnoreSignal(int) {}

TEST(Sleep, SleepsOnForTheRestWhenASignalInterrupts)
{
    sim::Receiver receiver;  // real time: the signal must land inside the sleep
    struct sigaction action = {};
    struct sigaction previous;
    action.sa_handler = IgnoreSignal;  // no SA_RESTART: nanosleep returns EINTR
    sigaction(SIGUSR1, &action, &previous);

    pthread_t sleeper = pthread_self();
    std::thread interrupter([sleeper] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        pthread_kill(sleeper, SIGUSR1);
    });
    Sleep(300);
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);

    auto sleeps = receiver.Sleeps();
    ASSERT_EQ(sleeps.size(), 2u);
    EXPECT_EQ(sleeps[0].tv_nsec, 300000000);
    EXPECT_EQ(sleeps[1].tv_sec, 0);
    EXPECT_GT(sleeps[1].tv_nsec, 0);
    EXPECT_LT(sleeps[1].tv_nsec, 300000000);
}

TEST(MyStrStr, SearchesBinaryDataWithinTheGivenLength)
{
    char data[] = {'+', 'W', 'I', 'N', 0, 'O', 'K', '\r', 'x'};
    char ok[] = "OK";
    char win[] = "+WIN";
    char okcr[] = "OK\r";
    char empty[] = "";
    char longer[] = "+WIN\0OK\r";  // strlen 4: the zero ends the pattern

    EXPECT_EQ(MyStrStr(data, sizeof data, ok), data + 5);  // after a zero byte
    EXPECT_EQ(MyStrStr(data, 8, okcr), data + 5);            // ends at the last byte
    EXPECT_EQ(MyStrStr(data, 7, okcr), nullptr);             // one byte beyond the length
    EXPECT_EQ(MyStrStr(data, sizeof data, win), data);
    EXPECT_EQ(MyStrStr(data, sizeof data, longer), data);
    EXPECT_EQ(MyStrStr(data, sizeof data, empty), nullptr);
    EXPECT_EQ(MyStrStr(data, 3, win), nullptr);  // pattern longer than the length
    EXPECT_EQ(MyStrStr(data, 0, ok), nullptr);

    char repeated[] = "aab";
    char ab[] = "ab";
    EXPECT_EQ(MyStrStr(repeated, 3, ab), repeated + 1);  // restarts after a partial match
}

}  // namespace
