// The radio's serial line on a real pseudo-terminal.
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

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class SerialLink : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (open)
            CloseSerialPort(&env);
    }

    int Open(const char *speed, std::string &output)
    {
        env.speed_name = speed;
        testing::internal::CaptureStdout();
        int fd = OpenSerialPort(&env);
        output = testing::internal::GetCapturedStdout();
        open = fd >= 0;
        return fd;
    }
    unsigned long Receive(unsigned long length, unsigned timeoutMs)
    {
        return ReceiveComPort(&env, buffer, length, timeoutMs);
    }

    sim::Receiver receiver;
    sim::PtyLine line{receiver, "/dev/ttyUSB0"};
    LOADER_ENV env = loader_test::FreshRecord("/dev/ttyUSB0");
    bool open = false;
    char buffer[ANSWER_BUFFER_SIZE];
    std::string output;
};

TEST_F(SerialLink, OpensRawAtTheRequestedSpeedOrRefuses)
{
    EXPECT_EQ(Open("4800", output), -1);
    EXPECT_NE(output.find("unknown baudrate 4800\n"), std::string::npos);
    ASSERT_GE(Open("57600", output), 0);
    EXPECT_EQ(output.find("57600"), std::string::npos);
    EXPECT_EQ(line.HostBitRate(), 57600u);
    CloseSerialPort(&env);

    int fd = Open("38400", output);
    EXPECT_EQ(output, "COM-Port /dev/ttyUSB0 opened " + std::to_string(fd) + "...\n38400\r\n");
    EXPECT_EQ(line.HostBitRate(), 38400u);
    termios applied = line.HostSettings();
    EXPECT_EQ(applied.c_iflag, static_cast<tcflag_t>(IGNBRK | IGNPAR));
    EXPECT_EQ(applied.c_oflag | applied.c_lflag, 0u);
    EXPECT_EQ(applied.c_cflag & (CSIZE | CREAD | CLOCAL | CRTSCTS), static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(applied.c_cc[VMIN], 0);
    EXPECT_EQ(applied.c_cc[VTIME], 1);
}

TEST_F(SerialLink, ReceiveCountsIdlePeriodsAndLeavesExtraBytesQueued)
{
    ASSERT_GE(Open("9600", output), 0);
    memset(buffer, 'x', sizeof buffer);
    auto start = Clock::now();
    EXPECT_EQ(Receive(8, 200), 0u);  // two idle reads of 0.1 s
    EXPECT_GE(SecondsSince(start), 0.18);
    EXPECT_EQ(buffer[0], 0);

    // Below 100 ms one read only, even when it brings part of the answer.
    line.Send(B({0x02, 0x0C, 0x00}));
    usleep(20000);
    EXPECT_EQ(Receive(8, 50), 3u);

    line.Send(B({0x02, 0x0C, 0x00, 0x01, 0x06, 0x00, 0x13, 0x03, 0x7E}));
    EXPECT_EQ(Receive(8, 10000), 8u);
    EXPECT_EQ(env.rx_countdown, 100u);  // no idle period was needed
    EXPECT_EQ(Receive(8, 50), 1u);
    EXPECT_EQ(buffer[0], 0x7E);

    // A failing read counts as an idle period without waiting.
    CloseSerialPort(&env);
    open = false;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Receive(8, 200), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Read Error EBADF\nRead Error EBADF\n");
}

// A block's acknowledgement carries the check bytes 00 13.  With XON/XOFF on
// the line the terminal takes 0x13 for XOFF: the byte vanishes (and output
// stops), so the load stalls at block 1.
TEST_F(SerialLink, BinaryAnswersArriveWholeWithoutSoftwareFlowControl)
{
    const Bytes answer = B({0x02, 0x0C, 0x00, 0x01, 0x06, 0x00, 0x13, 0x03});
    const Bytes controls = B({0x11, 0x13, 0x00, 0x11, 0x13, 0x03, 0x7F, 0xFF});
    ASSERT_GE(Open("115200", output), 0);
    line.Send(answer + controls);
    EXPECT_EQ(Receive(16, 200), 16u);
    EXPECT_EQ(Bytes(buffer, 16), answer + controls);

    termios flowControlled = env.port_settings;
    flowControlled.c_iflag |= IXON | IXOFF;
    flowControlled.c_cc[VSTART] = 0x11;
    flowControlled.c_cc[VSTOP] = 0x13;
    ASSERT_EQ(tcsetattr(env.port_fd, TCSANOW, &flowControlled), 0);
    line.Send(answer);
    EXPECT_EQ(Receive(8, 200), 7u);
}

}  // namespace
