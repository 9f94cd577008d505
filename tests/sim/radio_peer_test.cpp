// The simulated radio, driven from the host's end of a real pty.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "sim/pty_line.h"
#include "sim/radio_peer.h"
#include "sim/receiver.h"

namespace {

using Bytes = std::vector<unsigned char>;

speed_t SpeedCode(unsigned rate)
{
    switch (rate) {
    case 9600: return B9600;
    case 38400: return B38400;
    case 115200: return B115200;
    default: return B19200;
    }
}

// The program's end of the line.
class Host {
public:
    Host(sim::PtyLine &line, unsigned rate) : m_fd(open(line.SlaveName().c_str(), O_RDWR | O_NOCTTY)) { SetRate(rate); }
    ~Host() { close(m_fd); }

    void SetRate(unsigned rate)
    {
        termios settings;
        tcgetattr(m_fd, &settings);
        cfmakeraw(&settings);
        cfsetispeed(&settings, SpeedCode(rate));
        cfsetospeed(&settings, SpeedCode(rate));
        tcsetattr(m_fd, TCSANOW, &settings);
    }
    void Send(const Bytes &bytes) { ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // Up to `count` bytes, giving up after `idleMs` without one.
    Bytes Receive(size_t count, int idleMs = 1000)
    {
        Bytes bytes;
        while (bytes.size() < count) {
            pollfd waiting{m_fd, POLLIN, 0};
            if (poll(&waiting, 1, idleMs) <= 0)
                break;
            unsigned char buffer[512];
            ssize_t got = read(m_fd, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (got <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }
    Bytes Exchange(const Bytes &frame, size_t count = 8, int idleMs = 1000)
    {
        Send(frame);
        return Receive(count, idleMs);
    }

private:
    int m_fd;
};

Bytes Frame(unsigned char code, const Bytes &payload)
{
    Bytes frame;
    // Room for the whole frame first: GCC 12 at -O2 wrongly reports the insert
    // into a vector of exactly four bytes as writing out of bounds.
    frame.reserve(payload.size() + 7);
    frame = {0x02, code, static_cast<unsigned char>(payload.size() >> 8), static_cast<unsigned char>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (size_t i = 1; i < frame.size(); ++i)
        sum += frame[i];
    frame.push_back(static_cast<unsigned char>(sum >> 8));
    frame.push_back(static_cast<unsigned char>(sum));
    frame.push_back(0x03);
    return frame;
}

Bytes Ack(unsigned char code, unsigned char status = 0x06)
{
    unsigned sum = code + 1 + status;
    return {0x02, code, 0x00, 0x01, status, static_cast<unsigned char>(sum >> 8), static_cast<unsigned char>(sum),
            0x03};
}

const Bytes kPoc = Frame(0x02, {});
const Bytes kReset = Frame(0x04, {});

Bytes SetBaudRate(uint32_t rate)
{
    return Frame(0x07, {0x00, static_cast<unsigned char>(rate >> 24), static_cast<unsigned char>(rate >> 16),
                        static_cast<unsigned char>(rate >> 8), static_cast<unsigned char>(rate)});
}

Bytes CreateFile(unsigned blocks, uint32_t adler)
{
    return Frame(0x0B, {0x00, static_cast<unsigned char>(blocks >> 8), static_cast<unsigned char>(blocks),
                        static_cast<unsigned char>(adler >> 24), static_cast<unsigned char>(adler >> 16),
                        static_cast<unsigned char>(adler >> 8), static_cast<unsigned char>(adler)});
}

Bytes Block(const Bytes &image, unsigned number, unsigned blocks)
{
    Bytes payload{0x00, static_cast<unsigned char>(number >> 8), static_cast<unsigned char>(number),
                  static_cast<unsigned char>(blocks >> 8), static_cast<unsigned char>(blocks)};
    for (size_t i = 0; i < 256; ++i) {
        size_t at = size_t(number - 1) * 256 + i;
        payload.push_back(at < image.size() ? image[at] : 0xFF);
    }
    return Frame(0x0C, payload);
}

uint32_t ZlibAdler(const Bytes &bytes) { return adler32(adler32(0, nullptr, 0), bytes.data(), uInt(bytes.size())); }

Bytes RandomImage(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes image(size);
    for (unsigned char &byte : image)
        byte = static_cast<unsigned char>(random());
    return image;
}

unsigned BlocksOf(size_t size) { return unsigned((size + 255) / 256); }

struct Bench {
    explicit Bench(sim::RadioOptions options = BootloaderOptions(), double timeScale = 0.05)
        : receiver(ReceiverOptions(timeScale)), line(receiver, "/dev/ttyS5"),
          radio(std::make_unique<sim::RadioPeer>(receiver, line, options))
    {
        radio->Start();
    }
    static sim::ReceiverOptions ReceiverOptions(double timeScale)
    {
        sim::ReceiverOptions options;
        options.timeScale = timeScale;
        return options;
    }
    static sim::RadioOptions BootloaderOptions()
    {
        sim::RadioOptions options;
        options.startInBootloader = true;
        return options;
    }
    bool Flagged(const std::string &part)
    {
        for (const std::string &problem : radio->Report().problems)
            if (problem.find(part) != std::string::npos)
                return true;
        return false;
    }

    sim::Receiver receiver;
    sim::PtyLine line;
    std::unique_ptr<sim::RadioPeer> radio;
};

// POC, CREATEFILE and the climb to 115200 bit/s, then the blocks.
void Load(Host &host, const Bytes &image, uint32_t announcedAdler, unsigned announcedBlocks)
{
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
    EXPECT_EQ(host.Exchange(CreateFile(announcedBlocks, announcedAdler)), Ack(0x0B));
    EXPECT_EQ(host.Exchange(SetBaudRate(115200)), Ack(0x07));
    host.SetRate(115200);
    for (unsigned n = 1; n <= BlocksOf(image.size()); ++n)
        ASSERT_EQ(host.Exchange(Block(image, n, announcedBlocks)), Ack(0x0C)) << "block " << n;
}

TEST(RadioBootloader, AcknowledgesAWholeLoadWithTrueSumsAndVerifiesTheImage)
{
    for (size_t size : {size_t(2), size_t(256), size_t(257), size_t(1000)}) {
        for (bool keepImage : {true, false}) {
            sim::RadioOptions options = Bench::BootloaderOptions();
            options.keepImage = keepImage;
            Bench bench(options);
            Host host(bench.line, 9600);
            Bytes image = RandomImage(size, unsigned(size));
            Load(host, image, ZlibAdler(image), BlocksOf(size));
            // The block acknowledgement's sum is 00 13: an XOFF that a raw line delivers.
            EXPECT_EQ(Ack(0x0C)[6], 0x13);
            EXPECT_EQ(host.Exchange(SetBaudRate(9600)), Ack(0x07));
            host.SetRate(9600);
            EXPECT_EQ(host.Exchange(kReset), Ack(0x04));

            sim::RadioReport report = bench.radio->Report();
            EXPECT_TRUE(report.verified) << report.Verdict();
            EXPECT_EQ(report.imageLength, size);
            EXPECT_TRUE(report.problems.empty()) << report.problems.front();
            char verdict[80];
            snprintf(verdict, sizeof verdict, "image verified (%u blocks, adler32 0x%08X)", BlocksOf(size),
                     unsigned(ZlibAdler(image)));
            EXPECT_EQ(report.Verdict(), verdict);
            if (keepImage) {
                Bytes blocks = bench.radio->ReceivedBlocks();
                ASSERT_EQ(blocks.size(), BlocksOf(size) * 256u);
                EXPECT_TRUE(std::equal(image.begin(), image.end(), blocks.begin()));
            }
        }
    }
}

TEST(RadioBootloader, SaysWhatDifferedInTheImage)
{
    Bytes image = RandomImage(600, 7);
    {
        Bench bench;
        Host host(bench.line, 9600);
        Load(host, image, ZlibAdler(image) ^ 1, BlocksOf(600));
        EXPECT_FALSE(bench.radio->Report().verified);
        EXPECT_NE(bench.radio->Report().Verdict().find("image differs"), std::string::npos);
    }
    {
        Bench bench;
        Host host(bench.line, 9600);
        Load(host, Bytes(image.begin(), image.begin() + 300), ZlibAdler(image), BlocksOf(600));
        char verdict[100];
        snprintf(verdict, sizeof verdict, "image incomplete: 2 of 3 blocks received (adler32 0x%08X announced)",
                 unsigned(ZlibAdler(image)));
        EXPECT_EQ(bench.radio->Report().Verdict(), verdict);
        EXPECT_EQ(bench.radio->Report().Lines()[1], "no RESET received");
    }
    {
        // Out of order, wrong count: refused and flagged, nothing stored.
        Bench bench;
        Host host(bench.line, 9600);
        Load(host, {}, ZlibAdler(image), BlocksOf(600));
        EXPECT_EQ(host.Exchange(Block(image, 2, 3)), Ack(0x0C, 0x15));
        EXPECT_EQ(host.Exchange(Block(image, 1, 4)), Ack(0x0C, 0x15));
        EXPECT_TRUE(bench.Flagged("block 2 out of order, block 1 expected"));
        EXPECT_TRUE(bench.Flagged("block 1 says 4 blocks, 3 were announced"));
        EXPECT_EQ(bench.radio->Report().blocksReceived, 0u);
    }
    EXPECT_EQ(sim::RadioAdler32(1, reinterpret_cast<const unsigned char *>("abc"), 3), 0x024D0127u);
    Bytes big = RandomImage(100000, 3);
    EXPECT_EQ(sim::RadioAdler32(1, big.data(), big.size()), ZlibAdler(big));
}

TEST(RadioBootloader, NaksBrokenFramesAndFlagsStrayBytes)
{
    Bench bench;
    Host host(bench.line, 9600);
    EXPECT_EQ(host.Exchange(CreateFile(1, 1)), Bytes()) << "nothing but POC before POC mode";
    EXPECT_TRUE(bench.Flagged("CREATEFILE before POC mode"));
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));

    Bytes badSum = kPoc;
    badSum[5] ^= 1;
    EXPECT_EQ(host.Exchange(badSum), Ack(0x02, 0x15));
    EXPECT_TRUE(bench.Flagged("POC frame check 0003, the bytes sum to 0002"));
    Bytes badEtx = kReset;
    badEtx.back() = 0x04;
    EXPECT_EQ(host.Exchange(badEtx), Ack(0x04, 0x15));
    EXPECT_TRUE(bench.Flagged("RESET frame ends with 04, not ETX"));
    EXPECT_EQ(host.Exchange(Frame(0x09, {})), Ack(0x09, 0x15));
    EXPECT_EQ(host.Exchange(Frame(0x07, {0x00, 0x00})), Ack(0x07, 0x15));
    EXPECT_TRUE(bench.Flagged("SETBAUDRATE frame with payload length 2"));
    EXPECT_EQ(host.Exchange(SetBaudRate(4800)), Ack(0x07, 0x15));

    EXPECT_EQ(host.Exchange(Bytes{0x55, 0xAA, 0x02, 0x02, 0x00, 0x00, 0x00, 0x02, 0x03}), Ack(0x02));
    EXPECT_TRUE(bench.Flagged("stray bytes before a frame: 55 AA"));
    EXPECT_EQ(host.Exchange(Bytes{0x02, 0x0C, 0x02, 0x00}, 8, 300), Bytes());
    EXPECT_TRUE(bench.Flagged("frame length 512 is longer than any command's"));
    // Half a frame, then silence: dropped, and the next whole frame is answered.
    EXPECT_EQ(host.Exchange(Bytes{0x02, 0x02, 0x00}, 8, 300), Bytes());
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
    EXPECT_TRUE(bench.Flagged("incomplete frame dropped (the rest never came): 02 02 00"));
}

TEST(RadioBootloader, FollowsTheSpeedChangesAndIgnoresFramesAtAnyOtherSpeed)
{
    Bench bench;
    Host host(bench.line, 115200);
    EXPECT_EQ(host.Exchange(kPoc, 8, 300), Bytes());
    EXPECT_TRUE(bench.Flagged("7 bytes sent at 115200 bit/s while the radio listens at 9600 bit/s"));
    host.SetRate(9600);
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
    EXPECT_EQ(host.Exchange(SetBaudRate(115200)), Ack(0x07));
    // Still at the old speed: the radio, now at 115200, hears noise.
    EXPECT_EQ(host.Exchange(kPoc, 8, 300), Bytes());
    host.SetRate(115200);
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
    // A refused change leaves the speed alone.
    EXPECT_EQ(host.Exchange(SetBaudRate(4800)), Ack(0x07, 0x15));
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
    EXPECT_EQ(host.Exchange(SetBaudRate(9600)), Ack(0x07));
    host.SetRate(9600);
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
}

TEST(RadioFirmware, AnswersQueriesOnlyAfterTheEscapeGuardsAndHardResetsIntoTheBootloader)
{
    sim::RadioOptions options;
    options.model = 0x05;
    options.versionMajor = 2;
    options.versionMinor = 10;
    options.versionBuild = 300;
    Bench bench(options, 0.05);  // guards: 50 ms before, 12.5 ms after
    Host host(bench.line, 38400);
    const Bytes model{0x01, 0x34, 0xCB}, version{0x01, 0x33, 0xCC}, hardReset{0x01, 0x1D, 0x02, 0xE0};

    EXPECT_EQ(host.Exchange(model, 4, 200), Bytes()) << "no query before the escape";
    // "+++" right after another byte is data.
    host.Send({'A', '+', '+', '+'});
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(host.Exchange(model, 4, 200), Bytes());
    // A query too soon after "+++" cancels the escape.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    host.Send({'+', '+', '+'});
    EXPECT_EQ(host.Exchange(model, 4, 200), Bytes());

    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    host.Send({'+', '+', '+'});
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(host.Exchange(model, 4), (Bytes{0x01, 0x34, 0x05, 0xC6}));
    EXPECT_EQ(host.Exchange(version, 9), (Bytes{0x01, 0x33, 0x00, 0x02, 0x00, 0x0A, 0x01, 0x2C, 0x93}));
    EXPECT_EQ(host.Exchange(hardReset, 4), hardReset);
    host.SetRate(9600);
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));

    // RESET starts the firmware again, at its own speed.
    EXPECT_EQ(host.Exchange(kReset), Ack(0x04));
    host.SetRate(38400);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    host.Send({'+', '+', '+'});
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(host.Exchange(model, 4), (Bytes{0x01, 0x34, 0x05, 0xC6}));
}

TEST(RadioFirmware, HearsNothingUnpoweredAndListensForPocOnlyInTheBootWindow)
{
    sim::RadioOptions options;
    options.bootWindowMs = 4000;  // 200 ms at the bench's scale
    Bench bench(options, 0.05);
    Host host(bench.line, 9600);
    bench.radio->SetPowered(false);
    EXPECT_EQ(host.Exchange(kPoc, 8, 200), Bytes());
    bench.radio->SetPowered(true);
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));

    bench.radio->SetPowered(false);
    bench.radio->SetPowered(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(host.Exchange(kPoc, 8, 200), Bytes()) << "the firmware runs at 38400 bit/s by now";
}

TEST(RadioFaults, RulesPickTheirOccurrenceAndRefusedBlocksAreNotKept)
{
    sim::RadioOptions options = Bench::BootloaderOptions();
    // POC frames are counted from the first one heard, ignored or not.
    for (const char *text :
         {"extra:poc:3", "wrong-code:createfile:2", "refuse:writefileblock:2", "fail-reopen:setbaudrate:115200",
          "bad-etx:setbaudrate:115200", "delay:setbaudrate:9600:500"}) {
        sim::RadioRule rule;
        std::string error;
        ASSERT_TRUE(sim::ParseRadioRule(text, &rule, &error)) << error;
        options.rules.push_back(rule);
    }
    options.ignoredPocFrames = 2;
    Bench bench(options);
    Host host(bench.line, 9600);
    EXPECT_EQ(host.Exchange(kPoc, 8, 200), Bytes());
    EXPECT_EQ(host.Exchange(kPoc, 8, 200), Bytes());
    Bytes withExtra = Ack(0x02);
    withExtra.push_back(0x00);
    EXPECT_EQ(host.Exchange(kPoc, 9), withExtra);
    Bytes image = RandomImage(1024, 1);
    EXPECT_EQ(host.Exchange(CreateFile(4, ZlibAdler(image))), Ack(0x0B));
    EXPECT_EQ(host.Exchange(CreateFile(4, ZlibAdler(image))), Ack(0x07)) << "the second CREATEFILE";
    Bytes badEtx = Ack(0x07);
    badEtx.back() = 0xFC;
    EXPECT_EQ(host.Exchange(SetBaudRate(115200)), badEtx) << "the speed changes all the same";
    EXPECT_EQ(Board_Open("/dev/ttyS5", O_RDWR | O_NOCTTY, 0), -1) << "the reopen at 115200 fails";
    EXPECT_EQ(errno, EIO);
    host.SetRate(115200);
    EXPECT_EQ(host.Exchange(Block(image, 1, 4)), Ack(0x0C));
    EXPECT_EQ(host.Exchange(Block(image, 2, 4)), Ack(0x0C, 0x15));
    EXPECT_EQ(host.Exchange(Block(image, 3, 4)), Ack(0x0C, 0x15)) << "block 2 is still missing";
    EXPECT_EQ(bench.radio->Report().blocksReceived, 1u);
    EXPECT_EQ(host.Exchange(SetBaudRate(9600), 8, 150), Bytes()) << "delayed";
    EXPECT_EQ(host.Receive(8, 2000), Ack(0x07));

    sim::RadioRule rule;
    std::string error;
    for (const char *bad : {"refuse", "melt:poc", "refuse:nothing", "delay:poc:1", "refuse:poc:-1", "drop:poc:1:2:3"})
        EXPECT_FALSE(sim::ParseRadioRule(bad, &rule, &error)) << bad;
}

TEST(RadioFaults, SilentRadioHearsButNeverAnswers)
{
    sim::RadioOptions options = Bench::BootloaderOptions();
    options.silent = true;
    Bench bench(options);
    Host host(bench.line, 9600);
    EXPECT_EQ(host.Exchange(kPoc, 8, 300), Bytes());
    EXPECT_EQ(bench.radio->Report().frames["POC"], 1u);
}

TEST(RadioPacing, CountsTheLineTimeOfEveryByteAtItsSpeed)
{
    sim::RadioOptions options = Bench::BootloaderOptions();
    options.pacing = true;
    Bench bench(options);
    Host host(bench.line, 9600);
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
    EXPECT_EQ(host.Exchange(SetBaudRate(115200)), Ack(0x07));
    host.SetRate(115200);
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
    sim::RadioReport report = bench.radio->Report();
    EXPECT_NEAR(report.rxWireMs, (7 + 12) * 10000.0 / 9600 + 7 * 10000.0 / 115200, 1e-6);
    EXPECT_NEAR(report.txWireMs, 16 * 10000.0 / 9600 + 8 * 10000.0 / 115200, 1e-6);
}

}  // namespace
