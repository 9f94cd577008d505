// The Bluetooth module and the GSM modem, driven from the host's end of
// their lines with the bytes each device takes, and checked for the answers
// and refusals the device would give.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "sim/bluetooth_module.h"
#include "sim/gsm_modem.h"
#include "sim/receiver.h"
#include "sim_test.h"

namespace {

// The program's end of a line, raw at 115200 bit/s, with or without handshake.
class Host {
public:
    Host(sim::PtyLine &line, bool handshake) : m_fd(open(line.SlaveName().c_str(), O_RDWR | O_NOCTTY))
    {
        termios settings;
        tcgetattr(m_fd, &settings);
        cfmakeraw(&settings);
        cfsetspeed(&settings, B115200);
        settings.c_cflag = handshake ? settings.c_cflag | CRTSCTS : settings.c_cflag & ~CRTSCTS;
        tcsetattr(m_fd, TCSANOW, &settings);
    }
    ~Host() { close(m_fd); }
    void Send(const std::string &bytes) { ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // What comes until `ms` pass without a byte.
    std::string Receive(int ms = 150)
    {
        std::string got;
        pollfd ready{m_fd, POLLIN, 0};
        char buffer[4096];
        while (poll(&ready, 1, ms) > 0) {
            ssize_t count = read(m_fd, buffer, sizeof buffer);
            if (count <= 0)
                break;
            got.append(buffer, static_cast<size_t>(count));
        }
        return got;
    }
    // Sends `bytes` and returns the answer.
    std::string Ask(const std::string &bytes, int ms = 150)
    {
        Send(bytes);
        return Receive(ms);
    }

private:
    int m_fd;
};

// At 0.02 the one-second guards of the escapes are 20 ms.
sim::ReceiverOptions Options() { return simtest::Scaled(0.02); }

TEST(GsmModemPeer, TakesOnlyWellFormedCommandsAndTheGuardedEscape)
{
    sim::Receiver receiver(Options());
    sim::GsmModem modem(receiver);
    Host host(modem.Line(), false);
    EXPECT_EQ(host.Ask("AT\r"), "\r\nOK\r\n");
    EXPECT_EQ(host.Ask("AT+CPIN?\r"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    for (const char *refused : {"AT+NOSUCH\r", "AT\n", "xAT\r", "+++AT\r", "\r"})
        EXPECT_EQ(host.Ask(refused), "\r\nERROR\r\n") << refused;
    EXPECT_EQ(modem.Commands().front(), "AT\r");
    EXPECT_EQ(modem.Commands().size(), 7u);
    EXPECT_EQ(host.Ask("ATE1\r"), "\r\nOK\r\n");
    EXPECT_EQ(host.Ask("AT\r"), "AT\r\r\nOK\r\n");  // from now on the echo comes first

    modem.Connect();
    EXPECT_EQ(host.Receive(), "\r\nCONNECT\r\n");
    host.Send("data+++");  // no silence before: payload
    usleep(40000);
    EXPECT_EQ(host.Ask("+++"), "\r\nOK\r\n");
    EXPECT_EQ(modem.Payload(), "data+++");
    EXPECT_FALSE(modem.InDataMode());
    EXPECT_TRUE(modem.Connected());
}

TEST(BluetoothModulePeer, AnswersCommandLinesAndTheGuardedEscape)
{
    sim::Receiver receiver(Options());
    sim::BluetoothModule module(receiver);
    {
        Host unready(module.Line(), false);  // without handshake the module hears nothing
        EXPECT_EQ(unready.Ask("INFO\n"), "");
    }
    Host host(module.Line(), true);
    std::string banner = host.Ask("INFO\n");
    EXPECT_NE(banner.find("Firmware version 3.2.1\r\nREADY.\r\n"), std::string::npos) << banner;
    EXPECT_EQ(host.Ask("FOO\n"), "SYNTAX ERROR\r\n");
    EXPECT_EQ(host.Ask("SET BT NAME Rover\r\n"), "");  // a CR before the LF is taken
    EXPECT_NE(host.Ask("SET\n").find("SET BT NAME Rover\r\n"), std::string::npos);
    EXPECT_EQ(host.Ask("SELECT 0\n"), "NO CARRIER 0 ERROR 0\r\n");  // no link to resume

    host.Ask("SET PROFILE SPP Bluetooth Serial Port\n");
    ASSERT_TRUE(module.Connect("00:11:22:33:44:55", "hi"));
    EXPECT_EQ(host.Receive(), "RING 0 00:11:22:33:44:55 1 RFCOMM \r\nhi");
    host.Send("x+++");  // no silence before: data
    usleep(40000);
    EXPECT_EQ(host.Ask("+++", 300), "READY.\r\n");
    EXPECT_TRUE(module.LinkPaused());
    EXPECT_EQ(module.RemoteReceived(), "x+++");
    EXPECT_TRUE(module.SendData("held"));
    EXPECT_EQ(host.Ask("SELECT 0\n"), "held");
    EXPECT_FALSE(module.LinkPaused());
}

}  // namespace
