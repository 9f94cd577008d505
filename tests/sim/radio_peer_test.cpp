// The simulated radio, driven from the host's end of a real pty.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pty_host.h"
#include "sim/radio_peer.h"
#include "sim_test.h"

namespace {

using Bytes = std::vector<unsigned char>;

// `value` as `count` bytes, most significant first, after `front`.
Bytes BigEndian(Bytes front, uint32_t value, int count)
{
    // Room first: GCC 12 at -O2 wrongly reports growing a vector of exactly
    // four bytes as writing out of bounds.
    front.reserve(front.size() + 264);
    for (int shift = 8 * (count - 1); shift >= 0; shift -= 8)
        front.push_back(static_cast<unsigned char>(value >> shift));
    return front;
}

Bytes Frame(unsigned char code, const Bytes &payload)
{
    Bytes frame = BigEndian({0x02, code}, uint32_t(payload.size()), 2);
    frame.insert(frame.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (size_t i = 1; i < frame.size(); ++i)
        sum += frame[i];
    frame = BigEndian(frame, sum, 2);
    frame.push_back(0x03);
    return frame;
}

// An answer is a frame of one status byte.  The block acknowledgement's sum
// is 00 13: an XOFF that a raw line delivers.
Bytes Ack(unsigned char code, unsigned char status = 0x06) { return Frame(code, {status}); }

const Bytes kPoc = Frame(0x02, {});
const Bytes kReset = Frame(0x04, {});
const Bytes kNoAnswer;

Bytes SetBaudRate(uint32_t rate) { return Frame(0x07, BigEndian({0x00}, rate, 4)); }

Bytes CreateFile(unsigned blocks, uint32_t adler)
{
    return Frame(0x0B, BigEndian(BigEndian({0x00}, blocks, 2), adler, 4));
}

Bytes Block(const Bytes &image, unsigned number, unsigned blocks)
{
    Bytes payload = BigEndian(BigEndian({0x00}, number, 2), blocks, 2);
    for (size_t at = size_t(number - 1) * 256; at < size_t(number) * 256; ++at)
        payload.push_back(at < image.size() ? image[at] : 0xFF);
    return Frame(0x0C, payload);
}

uint32_t ZlibAdler(const Bytes &bytes) { return adler32(1, bytes.data(), uInt(bytes.size())); }

Bytes RandomImage(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes image(size);
    std::generate(image.begin(), image.end(), [&] { return static_cast<unsigned char>(random()); });
    return image;
}

unsigned BlocksOf(size_t size) { return unsigned((size + 255) / 256); }

// At 0.05 the escape's guards are 50 ms before and 12.5 ms after.
struct Bench {
    explicit Bench(sim::RadioOptions options, bool bootloader = true)
        : radio(receiver, line, (options.startInBootloader = bootloader, options))
    {
        radio.Start();
    }
    bool Flagged(const std::string &part)
    {
        std::vector<std::string> problems = radio.Report().problems;
        return std::any_of(problems.begin(), problems.end(),
                           [&](const std::string &problem) { return problem.find(part) != std::string::npos; });
    }

    sim::Receiver receiver{simtest::Scaled(0.05)};
    sim::PtyLine line{receiver, "/dev/ttyS5"};
    sim::RadioPeer radio;
};

TEST(RadioBootloader, AcknowledgesAWholeLoadWithTrueSumsAndVerifiesTheImage)
{
    // The image's size and the bits flipped in the announced sum.
    for (auto [size, flip] : {std::pair<size_t, uint32_t>{1000, 0}, {600, 1}}) {
        sim::RadioOptions options;
        options.keepImage = true;
        Bench bench(options);
        PtyHost host(bench.line, B9600);
        Bytes image = RandomImage(size, unsigned(size));
        EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
        EXPECT_EQ(host.Exchange(CreateFile(BlocksOf(size), ZlibAdler(image) ^ flip)), Ack(0x0B));
        EXPECT_EQ(host.Exchange(SetBaudRate(115200)), Ack(0x07));
        host.SetSpeed(B115200);
        for (unsigned n = 1; n <= BlocksOf(size); ++n)
            ASSERT_EQ(host.Exchange(Block(image, n, BlocksOf(size))), Ack(0x0C)) << "block " << n;
        if (flip != 0) {
            EXPECT_NE(bench.radio.Report().Verdict().find("image differs"), std::string::npos);
            EXPECT_EQ(bench.radio.Report().Lines()[1], "no RESET received");
            continue;
        }
        EXPECT_EQ(host.Exchange(kReset), Ack(0x04));
        sim::RadioReport report = bench.radio.Report();
        EXPECT_EQ(report.imageLength, size);
        EXPECT_TRUE(report.problems.empty()) << report.problems.front();
        char verdict[80];
        snprintf(verdict, sizeof verdict, "image verified (4 blocks, adler32 0x%08X)", unsigned(ZlibAdler(image)));
        EXPECT_EQ(report.Verdict(), verdict);
        Bytes blocks = bench.radio.ReceivedBlocks();
        EXPECT_TRUE(blocks.size() == 1024u && std::equal(image.begin(), image.end(), blocks.begin()));
    }
    // Past the 5552 bytes after which the sums must be reduced.
    Bytes big = RandomImage(100000, 3);
    EXPECT_EQ(sim::RadioAdler32(1, big.data(), big.size()), ZlibAdler(big));
}

// One line, step by step: the host's speed (0: unchanged), what it sends,
// the answer and what the radio flags.
TEST(RadioBootloader, NaksBrokenFramesFlagsStrayBytesAndFollowsSpeedChanges)
{
    Bytes badSum = kPoc, badEtx = kReset;
    badSum[5] ^= 1;
    badEtx.back() = 0x04;
    struct Step {
        speed_t speed;
        Bytes send, answer;
        const char *flagged;
    } const steps[] = {
        {B115200, kPoc, kNoAnswer, "7 bytes sent at 115200 bit/s while the radio listens at 9600 bit/s"},
        {B9600, CreateFile(1, 1), kNoAnswer, "CREATEFILE before POC mode"},
        {0, kPoc, Ack(0x02), nullptr},
        {0, badSum, Ack(0x02, 0x15), "POC frame check 0003, the bytes sum to 0002"},
        {0, badEtx, Ack(0x04, 0x15), "RESET frame ends with 04, not ETX"},
        {0, Frame(0x09, {}), Ack(0x09, 0x15), nullptr},
        {0, Frame(0x07, {0x00, 0x00}), Ack(0x07, 0x15), "SETBAUDRATE frame with payload length 2"},
        {0, {0x55, 0xAA, 0x02, 0x02, 0x00, 0x00, 0x00, 0x02, 0x03}, Ack(0x02), "stray bytes before a frame: 55 AA"},
        {0, {0x02, 0x0C, 0x02, 0x00}, kNoAnswer, "frame length 512 is longer than any command's"},
        // Half a frame, then silence: dropped, and the next whole frame is answered.
        {0, {0x02, 0x02, 0x00}, kNoAnswer, nullptr},
        {0, kPoc, Ack(0x02), "incomplete frame dropped (the rest never came): 02 02 00"},
        {0, SetBaudRate(4800), Ack(0x07, 0x15), nullptr},  // refused: the speed stays
        {0, kPoc, Ack(0x02), nullptr},
        // Out of order, or another count: refused, flagged and not stored.
        {0, CreateFile(3, 1), Ack(0x0B), nullptr},
        {0, Block({}, 2, 3), Ack(0x0C, 0x15), "block 2 out of order, block 1 expected"},
        {0, Block({}, 1, 4), Ack(0x0C, 0x15), "block 1 says 4 blocks, 3 were announced"},
    };
    Bench bench({});
    PtyHost host(bench.line, B9600);
    int n = 0;
    for (const Step &step : steps) {
        if (step.speed != 0)
            host.SetSpeed(step.speed);
        EXPECT_EQ(host.Exchange(step.send, 8, step.answer.empty() ? 300 : 1000), step.answer) << "step " << n;
        EXPECT_TRUE(step.flagged == nullptr || bench.Flagged(step.flagged)) << "step " << n;
        ++n;
    }
    EXPECT_EQ(bench.radio.Report().blocksReceived, 0u);
}

// The escape is a second of silence, "+++", a quarter second of silence.
TEST(RadioFirmware, AnswersQueriesOnlyAfterTheEscapeGuardsAndHardResetsIntoTheBootloader)
{
    sim::RadioOptions options;
    options.model = 0x05;
    Bench bench(options, false);
    PtyHost host(bench.line, B38400);
    const Bytes model{0x01, 0x34, 0xCB}, version{0x01, 0x33, 0xCC}, hardReset{0x01, 0x1D, 0x02, 0xE0};
    EXPECT_EQ(host.Exchange(model, 4, 200), kNoAnswer) << "no query before the escape";
    for (int round = 0; round < 2; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        host.Exchange(Bytes{'+', '+', '+'}, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_EQ(host.Exchange(model, 4), (Bytes{0x01, 0x34, 0x05, 0xC6}));
        EXPECT_EQ(host.Exchange(version, 9), (Bytes{0x01, 0x33, 0x00, 0x02, 0x00, 0x0A, 0x01, 0x2C, 0x93}));
        EXPECT_EQ(host.Exchange(hardReset, 4), hardReset);
        host.SetSpeed(B9600);
        EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
        // RESET starts the firmware again, at its own speed.
        EXPECT_EQ(host.Exchange(kReset), Ack(0x04));
        host.SetSpeed(B38400);
    }
}

TEST(RadioFaults, RulesPickTheirOccurrenceAndRefusedBlocksAreNotKept)
{
    sim::RadioOptions options;
    sim::RadioRule rule;
    std::string error;
    // POC frames are counted from the first one heard, ignored or not.
    for (const char *text : {"extra:poc:2", "refuse:writefileblock:2", "bad-etx:setbaudrate:115200"}) {
        ASSERT_TRUE(sim::ParseRadioRule(text, &rule, &error)) << error;
        options.rules.push_back(rule);
    }
    for (const char *bad : {"refuse", "melt:poc", "refuse:nothing", "delay:poc:1", "refuse:poc:-1", "drop:poc:1:2:3"})
        EXPECT_FALSE(sim::ParseRadioRule(bad, &rule, &error)) << bad;
    options.ignoredPocFrames = 1;
    Bench bench(options);
    PtyHost host(bench.line, B9600);
    EXPECT_EQ(host.Exchange(kPoc, 8, 200), kNoAnswer);
    Bytes withExtra = Ack(0x02), badEtx = Ack(0x07);
    withExtra.push_back(0x00);
    badEtx.back() = 0xFC;
    EXPECT_EQ(host.Exchange(kPoc, 9), withExtra);
    Bytes image = RandomImage(1024, 1);
    EXPECT_EQ(host.Exchange(CreateFile(4, ZlibAdler(image))), Ack(0x0B));
    EXPECT_EQ(host.Exchange(SetBaudRate(115200)), badEtx) << "the speed changes all the same";
    host.SetSpeed(B115200);
    EXPECT_EQ(host.Exchange(Block(image, 1, 4)), Ack(0x0C));
    EXPECT_EQ(host.Exchange(Block(image, 2, 4)), Ack(0x0C, 0x15));
    EXPECT_EQ(host.Exchange(Block(image, 3, 4)), Ack(0x0C, 0x15)) << "block 2 is still missing";
    EXPECT_EQ(bench.radio.Report().blocksReceived, 1u);
}

}  // namespace
