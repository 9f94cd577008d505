// The serial peers (the radio, the Bluetooth module and the GSM modem),
// driven from the program's end of their real ptys with the bytes each device
// takes, and checked for the answers and refusals the device would give.  The
// radio firmware's command mode is what every end-to-end load goes through.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
#include "sim/bluetooth_module.h"
#include "sim/gsm_modem.h"
#include "sim/gsm_services.h"
#include "sim/pty_line.h"
#include "sim/radio_peer.h"
#include "sim_test.h"

namespace {

// The program's end of a peer's line: raw, at the speed given, with or
// without the hardware handshake.
struct PtyHost {
    PtyHost(sim::PtyLine &line, speed_t speed, bool handshake = false)
        : m_fd(open(line.SlaveName().c_str(), O_RDWR | O_NOCTTY))
    {
        SetSpeed(speed, handshake);
    }
    ~PtyHost() { close(m_fd); }

    void SetSpeed(speed_t speed, bool handshake = false)
    {
        termios settings;
        tcgetattr(m_fd, &settings);
        cfmakeraw(&settings);
        cfsetspeed(&settings, speed);
        settings.c_cflag = handshake ? settings.c_cflag | CRTSCTS : settings.c_cflag & ~CRTSCTS;
        tcsetattr(m_fd, TCSANOW, &settings);
    }

    // Sends `bytes`, then takes up to `count` bytes until `idleMs` pass
    // without one (`firstMs` for the first one, when given).
    template <typename Bytes>
    Bytes Exchange(const Bytes &bytes, size_t count = 8, int idleMs = 1000, int firstMs = -1)
    {
        EXPECT_EQ(write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        Bytes answer;
        pollfd waiting{m_fd, POLLIN, 0};
        unsigned char buffer[4096];
        while (answer.size() < count && poll(&waiting, 1, answer.empty() && firstMs >= 0 ? firstMs : idleMs) > 0) {
            ssize_t got = read(m_fd, buffer, std::min(sizeof buffer, count - answer.size()));
            if (got <= 0)
                break;
            answer.insert(answer.end(), buffer, buffer + got);
        }
        return answer;
    }

    // What one read takes: the host's view of where the peer's writes part.
    std::string ReadOnce()
    {
        pollfd waiting{m_fd, POLLIN, 0};
        char buffer[256];
        ssize_t got = poll(&waiting, 1, 3000) == 1 ? read(m_fd, buffer, sizeof buffer) : 0;
        return std::string(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
    }

    int m_fd;
};

// Sends `bytes` and returns what comes until 150 ms pass without a byte.  The
// first byte is waited for up to `firstMs`: long where an answer is due (a
// loaded host is slow), short where none is.
std::string Ask(PtyHost &host, const std::string &bytes, int firstMs = 3000)
{
    return host.Exchange(bytes, SIZE_MAX, 150, firstMs);
}

// At 0.02 the one-second guards of the escapes are 20 ms.
const sim::ReceiverOptions kOptions = simtest::Scaled(0.02);

// Well-formed command lines only; the modem's refusals, its SIM's PIN rules
// and the network side's, one command and its framed answer at a time (with
// extended errors on); an incoming call and the guarded escape.
TEST(GsmModemPeer, TakesOnlyWellFormedCommandsKeepsItsRulesAndTheGuardedEscape)
{
    sim::Receiver receiver(kOptions);
    sim::GsmModem modem(receiver);
    sim::GsmServices services(modem);
    PtyHost host(modem.Line(), B115200);
    EXPECT_EQ(Ask(host, "AT\r"), "\r\nOK\r\n");
    EXPECT_EQ(Ask(host, "AT+CPIN?\r"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    for (const char *refused : {"AT+NOSUCH\r", "AT\n", "xAT\r", "+++AT\r", "\r"})
        EXPECT_EQ(Ask(host, refused), "\r\nERROR\r\n") << refused;
    modem.SetPin("9876");
    modem.SetSim(sim::SimCard::Pin);
    // Two answers: both are waited for, however far apart they come.
    EXPECT_EQ(host.Exchange(std::string("AT+CPIN=1234\rAT+CPIN=9876\r"), 15), "\r\nERROR\r\n\r\nOK\r\n");
    // An escape with nothing to escape from: dropped, the next line is clean.
    usleep(40000);
    host.Exchange(std::string("+++"), 0);
    EXPECT_TRUE(
        simtest::Eventually([&] { return modem.Log().Contains("host: +++ (escape in command mode, dropped)"); }));
    EXPECT_EQ(Ask(host, "AT\r"), "\r\nOK\r\n");

    modem.SetSim(sim::SimCard::Pin);
    // clang-format off
    const std::pair<const char *, const char *> script[] = {
        {"AT+CMEE=2", "ERROR"}, {"AT+CMEE=1", "OK"}, {"AT+CPIN=\"0000\"", "+CME ERROR: 16"},
        {"AT+CPIN=1111", "+CME ERROR: 16"}, {"AT+CPIN=2222", "+CME ERROR: 16"},  // the third blocks the SIM
        {"AT+CPIN=1234", "+CME ERROR: 16"}, {"AT+CPIN?", "+CPIN: SIM PUK\r\n\r\nOK"},
        {"AT+CPIN=\"12345678\",\"4321\"", "OK"}, {"AT+CPIN?", "+CPIN: READY\r\n\r\nOK"},
        {"AT+CPIN=4321", "+CME ERROR: 3"}, {"AT+CPINS", "ERROR"},
        {"AT+WMBS=8", "ERROR"}, {"AT+WWSM=3", "ERROR"}, {"AT+CGCLASS=\"A\"", "ERROR"},
        {"AT+CGCLASS?", "+CGCLASS: \"CG\"\r\n\r\nOK"}, {"AT+CSQ", "+CSQ: 18,99\r\n\r\nOK"},
        {"ATS0=256", "ERROR"}, {"AT+CBST=7,0", "ERROR"}, {"ATD>SM2", "ERROR"},
        {"AT+WIPCFG=0", "+CME ERROR: 803"}, {"AT+WIPCFG=2", "+CME ERROR: 803"}, {"AT+WIPCFG=7", "+CME ERROR: 801"},
        {"AT+WIPCFG=1", "OK"}, {"AT+WIPCFG=1", "+CME ERROR: 844"}, {"AT+WIPBR=2,6,11,\"apn\"", "+CME ERROR: 806"},
        {"AT+WIPCREATE=1,1,5000,\"peer\",7", "+CME ERROR: 805"}, {"AT+WIPDATA=1,1,1", "+CME ERROR: 830"},
        {"ATS0=2", "OK"}};
    // clang-format on
    for (auto [command, answer] : script) {
        const std::string framed = "\r\n" + std::string(answer) + "\r\n";
        EXPECT_EQ(host.Exchange(std::string(command) + "\r", framed.size()), framed) << command;
    }

    services.SetLoopback(false);  // the call's far end sends nothing back
    services.IncomingCall();      // rings as often as set, then connects
    EXPECT_EQ(Ask(host, ""), "\r\nRING\r\n\r\nRING\r\n\r\nCONNECT\r\n");
    host.Exchange(std::string("data+++"), 0);  // no silence before: payload
    // The guard counts from the last byte the modem heard.
    ASSERT_TRUE(simtest::Eventually([&] { return services.PeerReceived() == "data+++"; }));
    usleep(40000);
    EXPECT_EQ(Ask(host, "+++"), "\r\nOK\r\n");
    EXPECT_EQ(services.PeerReceived(), "data+++");
    EXPECT_FALSE(modem.InDataMode());
    EXPECT_TRUE(modem.Connected());
    // A stream's end never shares the host's read with its start.
    modem.Connect("first");
    modem.NoCarrier();
    EXPECT_EQ(host.ReadOnce(), "\r\nCONNECT\r\nfirst");
    EXPECT_EQ(host.ReadOnce(), "\r\nNO CARRIER\r\n");
}

TEST(BluetoothModulePeer, AnswersCommandLinesAndTheGuardedEscape)
{
    sim::Receiver receiver(kOptions);
    sim::BluetoothModule module(receiver);
    {
        PtyHost unready(module.Line(), B115200);  // without handshake the module hears nothing
        unready.Exchange(std::string("INFO\n"), 0);
        EXPECT_TRUE(simtest::Eventually([&] { return module.Log().Contains("ignored 5 bytes (line not set)"); }));
    }
    PtyHost host(module.Line(), B115200, true);
    EXPECT_EQ(Ask(host, "INFO\r\n"), "Orva serial Bluetooth module\r\nFirmware version 3.2.1\r\nREADY.\r\n");
    EXPECT_EQ(Ask(host, "FOO\n"), "SYNTAX ERROR\r\n");
    EXPECT_EQ(Ask(host, "SELECT 0\n"), "NO CARRIER 0 ERROR 0\r\n");  // no link to resume

    host.Exchange(std::string("SET PROFILE SPP Bluetooth Serial Port\n"), 0);  // taken silently
    ASSERT_TRUE(simtest::Eventually([&] { return module.ProfileOpen(); }));
    ASSERT_TRUE(module.Connect("00:11:22:33:44:55", "hi"));
    EXPECT_EQ(Ask(host, ""), "RING 0 00:11:22:33:44:55 1 RFCOMM \r\nhi");
    host.Exchange(std::string("x+++"), 0);  // no silence before: data
    ASSERT_TRUE(module.WaitForRemoteBytes(4, 3000));
    usleep(40000);
    EXPECT_EQ(Ask(host, "+++"), "READY.\r\n");
    EXPECT_TRUE(module.LinkPaused());
    EXPECT_EQ(module.RemoteReceived(), "x+++");
    EXPECT_TRUE(module.SendData("held"));
    EXPECT_EQ(Ask(host, "SELECT 0\n"), "held");
    EXPECT_FALSE(module.LinkPaused());
    // After a silence, pluses that are not three, or that data follows, are data.
    for (const char *data : {"+x", "++"})
        usleep(40000), host.Exchange(std::string(data), 0);
    ASSERT_TRUE(module.WaitForRemoteBytes(8, 3000));
    EXPECT_EQ(module.RemoteReceived(), "x++++x++");
    EXPECT_FALSE(module.LinkPaused());
    ASSERT_TRUE(module.Disconnect());
    EXPECT_EQ(host.ReadOnce(), "NO CARRIER 0 ERROR 0\r\n");
    ASSERT_TRUE(module.Connect("00:11:22:33:44:55", "x"));
    ASSERT_TRUE(module.Disconnect());
    EXPECT_EQ(host.ReadOnce(), "RING 0 00:11:22:33:44:55 1 RFCOMM \r\nx");
}

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

struct Bench {
    explicit Bench(sim::RadioOptions options) : radio(receiver, line, (options.startInBootloader = true, options))
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

// The radio's normal firmware: "+++" is an escape only between its guard
// silences, and command mode answers whole queries only.
TEST(RadioFirmware, EscapesOnlyBetweenGuardSilencesAndAnswersWholeQueries)
{
    sim::Receiver receiver(simtest::Scaled(0.05));  // guards of 50 ms before, 12.5 ms after
    sim::PtyLine line(receiver, "/dev/ttyS5");
    sim::RadioPeer radio(receiver, line);
    radio.Start();
    PtyHost host(line, B38400);
    auto logged = [&radio](const char *part) {
        return simtest::Eventually([&] {
            const std::vector<std::string> lines = radio.Log().Lines();
            return std::any_of(lines.begin(), lines.end(),
                               [&](const std::string &line) { return line.find(part) != std::string::npos; });
        });
    };
    const std::pair<const char *, const char *> steps[] = {
        {"x+++", "\"+\" after only"}, {"+++x", "escape cancelled"}, {"+++", "escape accepted"}};
    for (auto [sent, seen] : steps) {
        usleep(80000);
        host.Exchange(std::string(sent), 0);
        EXPECT_TRUE(logged(seen)) << sent;
    }
    // A stray byte, an unterminated and an unknown query go unanswered: the
    // model query's answer is the first to come.
    const Bytes unterminated(17, 0x01), unknown{0x01, 0x40, 0xBF};
    for (const Bytes &query : {Bytes{0x55}, unterminated, unknown})
        host.Exchange(query, 0);
    EXPECT_EQ(host.Exchange(Bytes{0x01, 0x34, 0xCB}, 4), (Bytes{0x01, 0x34, 0x07, 0xC4}));
    EXPECT_TRUE(logged("stray byte 55"));
    EXPECT_EQ(radio.Report().problems.size(), 2u);  // the unterminated and the unknown query
}

// A whole load whose announced sum is one bit off: every block is taken and
// the image found to differ.  The end-to-end loads see it verified.
TEST(RadioBootloader, TakesAWholeLoadAndChecksTheImageAgainstTheAnnouncedSum)
{
    Bench bench({});
    PtyHost host(bench.line, B9600);
    Bytes image = RandomImage(600, 600);
    EXPECT_EQ(host.Exchange(kPoc), Ack(0x02));
    EXPECT_EQ(host.Exchange(CreateFile(3, ZlibAdler(image) ^ 1)), Ack(0x0B));
    EXPECT_EQ(host.Exchange(SetBaudRate(115200)), Ack(0x07));
    host.SetSpeed(B115200);
    for (unsigned n = 1; n <= 3; ++n)
        ASSERT_EQ(host.Exchange(Block(image, n, 3)), Ack(0x0C)) << "block " << n;
    EXPECT_NE(bench.radio.Report().Verdict().find("image differs"), std::string::npos);
    EXPECT_EQ(bench.radio.Report().Lines()[1], "no RESET received");
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
    double rate = 9600;
    for (const Step &step : steps) {
        if (step.speed != 0)
            host.SetSpeed(step.speed), rate = step.speed == B9600 ? 9600 : 115200;
        if (step.answer.empty()) {
            // Nothing is due: once the radio has heard every byte, a silence
            // past the 100 ms after which it gives up the rest of a frame.
            const double heard = bench.radio.Report().rxWireMs + step.send.size() * 10000 / rate - 0.001;
            host.Exchange(step.send, 0);
            EXPECT_TRUE(simtest::Eventually([&] { return bench.radio.Report().rxWireMs >= heard; })) << "step " << n;
            usleep(150000);
            EXPECT_EQ(host.Exchange(Bytes{}, 8, 0), kNoAnswer) << "step " << n;
        } else {
            EXPECT_EQ(host.Exchange(step.send), step.answer) << "step " << n;
        }
        EXPECT_TRUE(step.flagged == nullptr || bench.Flagged(step.flagged)) << "step " << n;
        ++n;
    }
    EXPECT_EQ(bench.radio.Report().blocksReceived, 0u);
}

// A peer whose thread is held off the processor while it takes in what it
// heard, as a loaded machine holds it: it answers "ok" once let go.
struct HeldPeer : sim::SerialPeer {
    HeldPeer(sim::PtyLine &line, std::shared_future<void> letGo) : SerialPeer("held"), letGo(std::move(letGo))
    {
        Start(line);
    }
    ~HeldPeer() override { Stop(); }
    void Heard(const unsigned char *, size_t, Time) override
    {
        letGo.wait();
        Queue("ok");
    }
    std::shared_future<void> letGo;
};

// However late the peer's thread runs, the program's receive window starts
// once the peer has taken in and answered what it was sent; and the line is
// caught up only once the program's reader is back on the line after a read.
TEST(SerialPeer, TheProgramsWindowsStartOnceThePeerHasCaughtUp)
{
    sim::Receiver receiver(simtest::Scaled(0.05));
    sim::PtyLine line(receiver, "/dev/ttyS7");
    std::promise<void> letGo;
    HeldPeer peer(line, letGo.get_future().share());
    int fd = Board_Open("/dev/ttyS7", O_RDWR | O_NOCTTY, 0);
    ASSERT_GE(fd, 0);
    termios settings;
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 1;  // the program's idle read: 100 ms
    tcsetattr(fd, TCSANOW, &settings);
    char answer[8] = {};
    std::thread program([&] {
        Board_Write(fd, "?", 1);
        EXPECT_EQ(Board_Read(fd, answer, 2), 2);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the peer held past three idle reads
    letGo.set_value();
    program.join();
    EXPECT_STREQ(answer, "ok");

    std::promise<void> stored, read;
    program = std::thread([&] {
        pollfd waiting{fd, POLLIN, 0};
        Board_Poll(&waiting, 1, 5000);
        EXPECT_EQ(Board_Read(fd, answer, 2), 2);
        EXPECT_TRUE(peer.WaitCaughtUp(0)) << "its own read is kept";
        read.set_value();
        stored.get_future().wait();
        Board_Poll(&waiting, 1, 0);
    });
    peer.Queue("ab");
    read.get_future().wait();
    EXPECT_FALSE(peer.WaitCaughtUp(50)) << "read but not yet kept";
    stored.set_value();
    program.join();
    // Back on the line by a poll, or by a read that finds nothing.
    pollfd waiting{fd, POLLIN, 0};
    for (bool byRead : {false, true}) {
        peer.Queue("cd");
        ASSERT_EQ(Board_Poll(&waiting, 1, 5000), 1);
        std::thread([&] {
            EXPECT_EQ(Board_Read(fd, answer, 2), 2);
            byRead ? Board_Read(fd, answer, 2) : Board_Poll(&waiting, 1, 0);
        }).join();
        EXPECT_TRUE(peer.WaitCaughtUp(1000)) << byRead;
    }

    // What a flush dropped is no longer waited for.
    peer.Queue("zz");
    ASSERT_EQ(Board_Poll(&waiting, 1, 5000), 1);
    tcflush(fd, TCIFLUSH);
    EXPECT_EQ(line.HostTraffic().sent - line.HostTraffic().read - line.HostTraffic().dropped, 0);
    Board_Close(fd);
}

}  // namespace
