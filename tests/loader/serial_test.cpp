// The radio's serial line: its settings and closing on a real pseudo-terminal,
// its sending and receiving against a scripted radio.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "board.h"
#include "loader_test.h"
#include "sim/pty_line.h"

namespace {

using namespace loadertest;

class Line : public simtest::SimTest {
protected:
    Line() : SimTest(0) {}
    int Open(const char *speed)
    {
        env.speed_name = speed;
        int fd = -1;
        output = Stdout([&] { fd = OpenSerialPort(&env); });
        return fd;
    }

    sim::PtyLine line{receiver, "/dev/ttyUSB0"};
    LOADER_ENV env = loadertest::FreshRecord("/dev/ttyUSB0");
    std::string output;
};

TEST_F(Line, OpensRawAtTheRequestedSpeedIdlesATenthOfASecondAndClosesEmptyAndDropped)
{
    const struct {
        const char *speed;
        unsigned rate;
        const char *shown;
    } speeds[] = {{"9600", 9600, "9600\r\n"},
                  {"19200", 19200, ""},
                  {"38400", 38400, "38400\r\n"},
                  {"57600", 57600, ""},
                  {"115200 bit/s", 115200, "115200\r\n"}};
    for (const auto &speed : speeds) {
        int fd = Open(speed.speed);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(output, "COM-Port /dev/ttyUSB0 opened " + std::to_string(fd) + "...\n" + speed.shown);
        EXPECT_EQ(line.HostBitRate(), speed.rate);
        CloseSerialPort(&env);
    }
    Open("38400");
    termios applied = line.HostSettings();
    // No XON/XOFF: the bootloader's answers are binary, and a 0x13 in them
    // (a block's acknowledgement ends 00 13 03) would vanish and stop the line.
    EXPECT_EQ(applied.c_iflag, static_cast<tcflag_t>(IGNBRK | IGNPAR));
    EXPECT_EQ(applied.c_oflag | applied.c_lflag, 0u);
    EXPECT_EQ(applied.c_cflag & (CSIZE | CREAD | CLOCAL | CRTSCTS), static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(applied.c_cc[VMIN], 0);
    EXPECT_EQ(applied.c_cc[VTIME], 1);
    CloseSerialPort(&env);

    // An idle read takes a tenth of a second; closing discards unread input
    // and drops the line.
    ASSERT_GE(Open("9600"), 0);
    char buffer[ANSWER_BUFFER_SIZE];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveComPort(&env, buffer, 8, 200), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));

    int other = open(line.SlaveName().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_TRUE(line.Send("unread"));
    int queued = 0;
    EXPECT_TRUE(simtest::Eventually([&] { return ioctl(other, FIONREAD, &queued) == 0 && queued == 6; }));
    CloseSerialPort(&env);
    EXPECT_EQ(ioctl(other, FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 0) << "unread input discarded";
    EXPECT_EQ(line.HostBitRate(), 0u) << "speed 0 drops the modem lines";
    close(other);

    // Refused: -1, and a port that failed to open is -1 too, as the bootloader
    // entry checks.
    EXPECT_EQ(Open("4800"), -1);
    receiver.FailOpen("/dev/ttyUSB0", EACCES);
    EXPECT_EQ(Open("9600"), -1);
    EXPECT_EQ(env.port_fd, -1);
}

class Traffic : public loadertest::RadioTest {
protected:
    Traffic() { env.port_fd = Board_Open(env.port_name, O_RDWR | O_NOCTTY, 0); }
    // Sends a query and receives its answer into `buffer`.
    unsigned long Exchange(unsigned long length, unsigned timeoutMs)
    {
        SendComPortBlock(&env, "\x01\x34", 2);
        return ReceiveComPort(&env, buffer, length, timeoutMs);
    }
    char buffer[ANSWER_BUFFER_SIZE];
};

TEST_F(Traffic, AReceiveEndsWithTheLengthOrItsIdleReadsAndEveryExchangeIsDumpedAndLogged)
{
    const struct {
        simtest::ScriptedRadio::Answer answer;
        unsigned timeoutMs;
        unsigned long received;
        int idleReads;
    } cases[] = {
        {{"abc", "", "defgh", "ij"}, 200, 8, 1},
        {{"abc", "", "", "defgh"}, 200, 3, 2},
        {{"abc", "defgh"}, 50, 3, 0},  // below 100 ms: one read only
        {{"", "abc"}, 50, 0, 1},
        {{std::vector<std::string>(9, "")}, 1000, 0, 10},
    };
    for (const auto &receive : cases) {
        radio->answers = {{radio->requests + 1, receive.answer}};
        radio->idleReads = 0;
        memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(Exchange(8, receive.timeoutMs), receive.received);
        EXPECT_EQ(radio->idleReads, receive.idleReads);
        EXPECT_EQ(buffer[receive.received], 0) << "a zero follows the answer";
    }
    // What comes after the length stays for the next receive.
    radio->answers = {{radio->requests + 1, {"abcdefghij"}}};
    EXPECT_EQ(Exchange(8, 200), 8u);
    EXPECT_EQ(ReceiveComPort(&env, buffer, 8, 0), 2u);
    EXPECT_EQ(Bytes(buffer, 2), "ij");

    int log[2];
    ASSERT_EQ(pipe(log), 0);
    env.log_fd = log[1];
    gl_debug_level = 4;
    radio->requests = 0;
    radio->answers = {{1, {"a"}}, {2, {}}};  // one byte is an answer too
    EXPECT_EQ(Stdout([&] { Exchange(8, 0); }), "Sending :01 34 \nAnswer(Length=1): :61 \n");
    EXPECT_EQ(Stdout([&] { Exchange(8, 0); }), "Sending :01 34 \n");
    EXPECT_EQ(loadertest::Logged(log), ">> 01 34 \n<< 61 \n>> 01 34 \n<< \n");
}

// A port that is interrupted once, then takes or gives one byte at a time;
// or, when full, takes nothing: not an error, the send just ends.
class Interrupted : public sim::Device {
public:
    ssize_t Write(const void *, size_t) override { return full ? (errno = EIO, 0) : Once() ? -1 : (written++, 1); }
    ssize_t Read(void *buffer, size_t) override { return Once() ? -1 : (*static_cast<char *>(buffer) = 'r', 1); }
    bool Once()
    {
        errno = EINTR;
        return !interrupted++;
    }
    bool full = false;
    int interrupted = 0;
    int written = 0;
};

TEST_F(Traffic, InterruptionsAreRetriedAndOtherErrorsPrinted)
{
    auto port = std::make_shared<Interrupted>();
    receiver.AddDevice("/dev/ttyS4", port);
    env.port_fd = Board_Open("/dev/ttyS4", O_RDWR, 0);
    EXPECT_EQ(Stdout([&] { SendComPortBlock(&env, "abcdef", 6); }), "");
    EXPECT_EQ(port->written, 6);
    port->interrupted = 0;
    EXPECT_EQ(Stdout([&] { EXPECT_EQ(ReceiveComPort(&env, buffer, 3, 100), 3u); }), "");
    EXPECT_EQ(env.rx_countdown, 1u) << "an interrupted read is no idle period";
    port->full = true;
    EXPECT_EQ(Stdout([&] { SendComPortBlock(&env, "ab", 2); }), "");

    env.port_fd = -1;  // as a failed open leaves it
    EXPECT_EQ(Stdout([&] { SendComPortBlock(&env, "a", 1); }), "Write Error EBADF\n");
    EXPECT_EQ(Stdout([&] { EXPECT_EQ(ReceiveComPort(&env, buffer, 8, 200), 0u); }),
              "Read Error EBADF\nRead Error EBADF\n");
}

}  // namespace
