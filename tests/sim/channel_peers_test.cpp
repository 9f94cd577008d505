// The Bluetooth module and the GSM modem, driven from the host's end of
// their lines with the bytes each device takes, and checked for the answers
// and refusals the device would give.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "pty_host.h"
#include "sim/bluetooth_module.h"
#include "sim/gsm_modem.h"
#include "sim_test.h"

namespace {

// Sends `bytes` and returns what comes until 150 ms pass without a byte.  The
// first byte is waited for up to `firstMs`: long where an answer is due (a
// loaded host is slow), short where none is.
std::string Ask(PtyHost &host, const std::string &bytes, int firstMs = 3000)
{
    return host.Exchange(bytes, SIZE_MAX, 150, firstMs);
}

// At 0.02 the one-second guards of the escapes are 20 ms.
const sim::ReceiverOptions kOptions = simtest::Scaled(0.02);

TEST(GsmModemPeer, TakesOnlyWellFormedCommandsAndTheGuardedEscape)
{
    sim::Receiver receiver(kOptions);
    sim::GsmModem modem(receiver);
    PtyHost host(modem.Line(), B115200);
    EXPECT_EQ(Ask(host, "AT\r"), "\r\nOK\r\n");
    EXPECT_EQ(Ask(host, "AT+CPIN?\r"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    for (const char *refused : {"AT+NOSUCH\r", "AT\n", "xAT\r", "+++AT\r", "\r"})
        EXPECT_EQ(Ask(host, refused), "\r\nERROR\r\n") << refused;
    EXPECT_EQ(modem.Commands().front(), "AT\r");
    EXPECT_EQ(modem.Commands().size(), 7u);
    EXPECT_EQ(Ask(host, "ATE1\r"), "\r\nOK\r\n");
    EXPECT_EQ(Ask(host, "AT\r"), "AT\r\r\nOK\r\n");  // from now on the echo comes first

    modem.Connect();
    EXPECT_EQ(Ask(host, ""), "\r\nCONNECT\r\n");
    host.Exchange(std::string("data+++"), 0);  // no silence before: payload
    usleep(40000);
    EXPECT_EQ(Ask(host, "+++"), "\r\nOK\r\n");
    EXPECT_EQ(modem.Payload(), "data+++");
    EXPECT_FALSE(modem.InDataMode());
    EXPECT_TRUE(modem.Connected());
}

TEST(BluetoothModulePeer, AnswersCommandLinesAndTheGuardedEscape)
{
    sim::Receiver receiver(kOptions);
    sim::BluetoothModule module(receiver);
    {
        PtyHost unready(module.Line(), B115200);  // without handshake the module hears nothing
        EXPECT_EQ(Ask(unready, "INFO\n", 150), "");
    }
    PtyHost host(module.Line(), B115200, true);
    std::string banner = Ask(host, "INFO\n");
    EXPECT_EQ(banner, "Orva serial Bluetooth module\r\nFirmware version 3.2.1\r\nREADY.\r\n");
    EXPECT_EQ(Ask(host, "FOO\n"), "SYNTAX ERROR\r\n");
    EXPECT_EQ(Ask(host, "SET BT NAME Rover\r\n", 150), "");  // a CR before the LF is taken
    EXPECT_NE(Ask(host, "SET\n").find("SET BT NAME Rover\r\n"), std::string::npos);
    EXPECT_EQ(Ask(host, "SELECT 0\n"), "NO CARRIER 0 ERROR 0\r\n");  // no link to resume

    Ask(host, "SET PROFILE SPP Bluetooth Serial Port\n", 150);
    ASSERT_TRUE(module.Connect("00:11:22:33:44:55", "hi"));
    EXPECT_EQ(Ask(host, ""), "RING 0 00:11:22:33:44:55 1 RFCOMM \r\nhi");
    host.Exchange(std::string("x+++"), 0);  // no silence before: data
    usleep(40000);
    EXPECT_EQ(Ask(host, "+++"), "READY.\r\n");
    EXPECT_TRUE(module.LinkPaused());
    EXPECT_EQ(module.RemoteReceived(), "x+++");
    EXPECT_TRUE(module.SendData("held"));
    EXPECT_EQ(Ask(host, "SELECT 0\n"), "held");
    EXPECT_FALSE(module.LinkPaused());
}

}  // namespace
