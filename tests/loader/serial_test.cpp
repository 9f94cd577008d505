// The radio's serial line on a real pseudo-terminal.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "Commun.h"
#include "loader_test_support.h"
#include "orvaflash.h"
#include "sim/pty_line.h"
#include "sim/receiver.h"

namespace {

using loader_test::B;
using loader_test::Bytes;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override { gl_debug_level = 2; }
    void TearDown() override
    {
        if (env.port_fd >= 0 && isOpen)
            CloseSerialPort(&env);
    }

    int Open(const char *speed, std::string *output = nullptr)
    {
        env.speed_name = speed;
        testing::internal::CaptureStdout();
        int fd = OpenSerialPort(&env);
        std::string printed = testing::internal::GetCapturedStdout();
        if (output)
            *output = printed;
        isOpen = fd >= 0;
        return fd;
    }

    unsigned long Receive(char *buffer, unsigned long length, unsigned timeoutMs)
    {
        return ReceiveComPort(&env, buffer, length, timeoutMs);
    }

    sim::ReceiverOptions Options()
    {
        sim::ReceiverOptions options;
        options.timeScale = 0.001;
        return options;
    }

    sim::Receiver receiver{Options()};
    sim::PtyLine line{receiver, "/dev/ttyUSB0"};
    LOADER_ENV env = loader_test::FreshRecord("/dev/ttyUSB0");
    bool isOpen = false;
};

TEST_F(SerialLink, OpensRawAtTheRequestedSpeed)
{
    std::string output;
    int fd = Open("38400", &output);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(env.port_fd, fd);
    EXPECT_EQ(output, "COM-Port /dev/ttyUSB0 opened " + std::to_string(fd) + "...\n38400\r\n");
    EXPECT_EQ(line.HostBitRate(), 38400u);
    termios applied = line.HostSettings();
    EXPECT_EQ(applied.c_iflag, static_cast<tcflag_t>(IGNBRK | IGNPAR));
    EXPECT_EQ(applied.c_oflag, 0u);
    EXPECT_EQ(applied.c_lflag, 0u);
    EXPECT_EQ(applied.c_cflag & (CSIZE | CREAD | CLOCAL | CRTSCTS | PARENB), static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(applied.c_cc[VMIN], 0);
    EXPECT_EQ(applied.c_cc[VTIME], 1);

    // Each reopening applies the new speed; 19200 and 57600 are not announced,
    // and trailing text after the digits is ignored.
    CloseSerialPort(&env);
    ASSERT_GE(Open("57600", &output), 0);
    EXPECT_EQ(output.find("57600"), std::string::npos);
    EXPECT_EQ(line.HostBitRate(), 57600u);
    CloseSerialPort(&env);
    ASSERT_GE(Open("115200baud", &output), 0);
    EXPECT_NE(output.find("115200\r\n"), std::string::npos);
    EXPECT_EQ(line.HostBitRate(), 115200u);
}

TEST_F(SerialLink, RefusesUnknownSpeedsAndMissingDevices)
{
    std::string output;
    EXPECT_EQ(Open("4800", &output), -1);
    EXPECT_NE(output.find("unknown baudrate 4800\n"), std::string::npos);
    // The refused descriptor is closed.
    EXPECT_EQ(fcntl(env.port_fd, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);

    env.port_name = "/dev/ttyS4";
    EXPECT_EQ(Open("9600", &output), -1);
    EXPECT_EQ(output, "Can't open COM-Port /dev/ttyS4 !\n");
    EXPECT_EQ(env.port_fd, -1);
    CloseSerialPort(&env);  // on the failed record: harmless
}

TEST_F(SerialLink, ReceiveCountsIdlePeriodsNotTime)
{
    ASSERT_GE(Open("9600"), 0);
    char buffer[ANSWER_BUFFER_SIZE];
    memset(buffer, 'x', sizeof buffer);

    // Silence: 200 ms allow two idle reads of 0.1 s.
    auto start = Clock::now();
    EXPECT_EQ(Receive(buffer, 8, 200), 0u);
    EXPECT_GE(SecondsSince(start), 0.18);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(env.rx_countdown, 0u);

    // Below 100 ms there is exactly one read, even when it brings part of the answer.
    start = Clock::now();
    EXPECT_EQ(Receive(buffer, 8, 50), 0u);
    EXPECT_GE(SecondsSince(start), 0.08);
    line.Send(B({0x02, 0x0C, 0x00}));
    usleep(20000);
    EXPECT_EQ(Receive(buffer, 8, 50), 3u);
    line.Send(B({0x01, 0x06, 0x00, 0x13, 0x03}));
    usleep(20000);
    EXPECT_EQ(Receive(buffer, 8, 50), 5u);

    // An answer ends the receive at once; what follows it stays queued.
    line.Send(B({0x02, 0x0C, 0x00, 0x01, 0x06, 0x00, 0x13, 0x03, 0x7E}));
    EXPECT_EQ(Receive(buffer, 8, 10000), 8u);
    EXPECT_EQ(Bytes(buffer, 9), B({0x02, 0x0C, 0x00, 0x01, 0x06, 0x00, 0x13, 0x03, 0x00}));
    EXPECT_EQ(env.rx_countdown, 100u);
    EXPECT_EQ(Receive(buffer, 8, 50), 1u);
    EXPECT_EQ(buffer[0], 0x7E);
}

TEST_F(SerialLink, FailingReadsCountAsIdleWithoutWaiting)
{
    env.port_fd = 999;  // not open
    char buffer[ANSWER_BUFFER_SIZE];
    testing::internal::CaptureStdout();
    auto start = Clock::now();
    EXPECT_EQ(Receive(buffer, 8, 300), 0u);
    double elapsed = SecondsSince(start);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Read Error EBADF\nRead Error EBADF\nRead Error EBADF\n");
    EXPECT_LT(elapsed, 0.1);
    env.port_fd = -1;
}

TEST_F(SerialLink, SendsWholeFramesAndDumpsThemAtLevelFour)
{
    ASSERT_GE(Open("115200"), 0);
    gl_debug_level = 4;
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long length;
    FormatRESETcommand(frame, length);
    testing::internal::CaptureStdout();
    SendComPortBlock(&env, frame, length);
    std::string output = testing::internal::GetCapturedStdout();
    gl_debug_level = 2;
    EXPECT_EQ(output, "Sending :02 04 00 00 00 04 03 \n");
    char received[16];
    EXPECT_EQ(line.Receive(received, sizeof received, 1000), 7);
    EXPECT_EQ(Bytes(received, 7), Bytes(reinterpret_cast<char *>(frame), length));
}

// The acknowledgement of a block carries its check bytes 00 13 (0x0C + 0x01 +
// 0x06 = 0x13).  With software flow control on the line, the terminal takes
// that 0x13 for XOFF: the byte vanishes and the loader's output stops.
TEST_F(SerialLink, BinaryAnswersArriveWholeWithoutSoftwareFlowControl)
{
    const Bytes answer = B({0x02, 0x0C, 0x00, 0x01, 0x06, 0x00, 0x13, 0x03});
    char buffer[ANSWER_BUFFER_SIZE];

    ASSERT_GE(Open("115200"), 0);
    line.Send(answer);
    EXPECT_EQ(Receive(buffer, 8, 200), 8u);
    EXPECT_EQ(Bytes(buffer, 8), answer);
    const Bytes controlBytes = B({0x11, 0x13, 0x00, 0x11, 0x13, 0x03, 0x7F, 0xFF});
    line.Send(controlBytes);
    EXPECT_EQ(Receive(buffer, 8, 200), 8u);
    EXPECT_EQ(Bytes(buffer, 8), controlBytes);

    // The same line with XON/XOFF added, and the terminal's usual start and
    // stop characters.
    termios flowControlled = env.port_settings;
    flowControlled.c_iflag |= IXON | IXOFF;
    flowControlled.c_cc[VSTART] = 0x11;
    flowControlled.c_cc[VSTOP] = 0x13;
    ASSERT_EQ(tcsetattr(env.port_fd, TCSANOW, &flowControlled), 0);
    line.Send(answer);
    EXPECT_EQ(Receive(buffer, 8, 200), 7u);
    EXPECT_EQ(Bytes(buffer, 7), B({0x02, 0x0C, 0x00, 0x01, 0x06, 0x00, 0x03}));
}

}  // namespace
