// Serial interfaces by number on real ptys of the simulated receiver.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "API_Errors.h"
#include "API_Uart.h"
#include "internal/API_Init.h"
#include "internal/API_Uart.h"
#include "uart_fixture.h"

namespace {

TEST_F(UartTest, SpeedChangeSetsEachInterfacesHandshake)
{
    for (int number = 0; number <= 10; ++number) {
        SCOPED_TRACE(number);
        sim::PtyLine &line = Line(a_devnames[number].path);
        ASSERT_EQ(API_UartOpen(number, O_RDWR | O_NOCTTY), API_ERR_NONE);
        termios before = line.HostSettings();
        before.c_cflag |= CRTSCTS;
        tcsetattr(ai_fd[number], TCSANOW, &before);

        ASSERT_EQ(API_UartSetBaudRate(number, B115200), API_ERR_NONE);
        termios applied = line.HostSettings();
        EXPECT_EQ(cfgetospeed(&applied), B115200);
        EXPECT_EQ(cfgetispeed(&applied), B115200);
        bool handshake = number != 0 && number != 4;
        EXPECT_EQ((applied.c_cflag & CRTSCTS) != 0, handshake);
        if (handshake) {
            EXPECT_TRUE(applied.c_cflag & CLOCAL);
        }
        // A pty drops parity, so the block the unit built is checked instead.
        EXPECT_EQ((a_uartSettings[number].c_cflag & PARENB) != 0, number >= 6);
        EXPECT_EQ(API_UartClose(number), API_ERR_NONE);
    }
}

TEST_F(UartTest, SpeedsAndConfigurationsAreReadBackOrRefused)
{
    sim::PtyLine &line = Line("/dev/ttyS2");
    ASSERT_EQ(API_UartOpen(2, O_RDWR | O_NOCTTY), API_ERR_NONE);
    int rate = 0;
    for (auto [code, expected] : {std::pair{B1200, 1200}, {B57600, 57600}, {B230400, 230400}, {B300, int(B300)}}) {
        ASSERT_EQ(API_UartSetBaudRate(2, code), API_ERR_NONE);
        ASSERT_EQ(API_UartGetBaudRate(2, &rate), API_ERR_NONE);
        EXPECT_EQ(rate, expected);
    }
    EXPECT_EQ(API_UartSetBaudRate(2, 12345), API_ERR_SETTING_UART_BAUDRATE);
    EXPECT_EQ(API_UartSetBaudRate(2, -1), API_ERR_SETTING_UART_BAUDRATE);
    EXPECT_EQ(line.HostBitRate(), 0u);  // still B300, which the peer does not know

    int config[API_UART_CONFIG_WORDS] = {B38400, 0x102};
    ASSERT_EQ(API_UartSetConfig(2, config), API_ERR_NONE);
    EXPECT_EQ(line.HostBitRate(), 38400u);
    int read_back[API_UART_CONFIG_WORDS] = {-1, -1};
    ASSERT_EQ(API_UartGetConfig(2, read_back), API_ERR_NONE);
    EXPECT_EQ(read_back[API_UART_CONFIG_SPEED], int(B38400));
    EXPECT_EQ(read_back[API_UART_CONFIG_LINE], 2);  // only the low byte is the discipline
    config[API_UART_CONFIG_SPEED] = 12345;
    EXPECT_EQ(API_UartSetConfig(2, config), API_ERR_SETTING_UART_CONFIG);
    EXPECT_EQ(line.HostBitRate(), 38400u);
}

TEST_F(UartTest, DataPassesBothWaysUntouched)
{
    sim::PtyLine &line = Line("/dev/ttyS3");
    ASSERT_EQ(API_UartOpen(3, O_RDWR | O_NOCTTY), API_ERR_NONE);
    const std::string out("AT\r\0\x11\x13\xff", 7);
    ASSERT_EQ(API_UartWrite(3, out.data(), int(out.size())), 7);
    EXPECT_EQ(Receive(line, out.size()), out);

    ASSERT_TRUE(line.Send(std::string("\x13\0ok\n", 5)));
    char buffer[64];
    ASSERT_EQ(API_UartRead(3, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), std::string("\x13\0ok\n", 5));
}

TEST_F(UartTest, OpenFollowsTheTableRowAndReplacesAnOpenDescriptor)
{
    receiver.CreateFile("/dev/pushbuttons", "keys");
    ASSERT_EQ(API_UartOpen(11, O_RDONLY), API_ERR_NONE);
    char buffer[8];
    EXPECT_EQ(API_UartRead(11, buffer, sizeof buffer), 4);

    int first = ai_fd[11];
    ASSERT_EQ(API_UartOpen(11, O_RDONLY), API_ERR_NONE);
    EXPECT_NE(ai_fd[11], first);
    EXPECT_EQ(fcntl(first, F_GETFD), -1) << "the replaced descriptor leaks";

    // A row pointed elsewhere by the configuration file opens there.
    sim::PtyLine &line = Line("/dev/radio");
    snprintf(a_devnames[5].path, sizeof a_devnames[5].path, "/dev/radio");
    ASSERT_EQ(API_UartOpen(5, O_RDWR | O_NOCTTY), API_ERR_NONE);
    ASSERT_EQ(API_UartWrite(5, "go", 2), 2);
    EXPECT_EQ(Receive(line, 2), "go");

    receiver.FailOpen("/dev/ttyS1", EACCES);
    EXPECT_EQ(API_UartOpen(1, O_RDWR), API_ERR_OPENING_UART);
    EXPECT_EQ(ai_fd[1], 0);
}

TEST_F(UartTest, BadNumbersAndClosedInterfacesTouchNothing)
{
    EXPECT_EQ(API_UartOpen(12, O_RDWR), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_UartClose(12), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_UartClose(-1), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_UartSetBaudRate(12, B9600), API_ERR_INVALID_TTY_NUMBER);
    int words[API_UART_CONFIG_WORDS] = {B9600, 0};
    EXPECT_EQ(API_UartGetBaudRate(-1, words), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_UartSetConfig(12, words), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_UartGetConfig(-5, words), API_ERR_INVALID_TTY_NUMBER);
    char buffer[4];
    EXPECT_EQ(API_UartRead(12, buffer, 4), -1);
    EXPECT_EQ(API_UartWrite(-1, "x", 1), -1);

    // Descriptor 0 stands for "not open": nothing may reach whatever holds it.
    StdinStandIn stand_in;
    EXPECT_EQ(API_UartClose(2), API_ERR_NONE);
    EXPECT_EQ(API_UartRead(2, buffer, 4), 0);
    EXPECT_EQ(API_UartWrite(2, "x", 1), 0);
    EXPECT_EQ(API_UartSetBaudRate(2, B9600), API_ERR_SETTING_UART_BAUDRATE);
    EXPECT_EQ(API_UartGetConfig(2, words), API_ERR_GETTING_UART_CONFIG);
    EXPECT_TRUE(stand_in.Untouched());
}

}  // namespace
