// The receive task: unsolicited texts, the stream's end, the ring's reader
// and overflow, and the escape to command mode and back.
#include <atomic>
#include <future>

#include "gsm_fixture.h"

namespace {

std::atomic<int> g_connections{0};
void CountConnection() { ++g_connections; }

// Every byte value, and the modem's end texts in the middle of it.
std::string Binary()
{
    std::string bytes;
    for (int i = 0; i < 512; ++i)
        bytes += static_cast<char>(i % 256);
    return "NO CARRIER" + bytes + "\r\nERROR\r\nSHUTDOWN" + bytes + "+WIPPEERCLOSE: 1\r\n\r\nNO CARRIER\r\nend";
}

using Modes = GsmTest;

TEST_F(Modes, ConnectStartsAStreamAndRingBlocksTheStatus)
{
    ASSERT_EQ(API_GSM_DSCCallback(CountConnection), API_ERR_NONE);
    EXPECT_EQ(API_GSM_DSCCallback(nullptr), API_ERR_GSM_CALL_NULL);
    modem.Ring();
    ASSERT_TRUE(Eventually([] { return bCheckStatus == 0; }));
    ConnectFromModem("abc");
    EXPECT_EQ(bCheckStatus, 1);
    EXPECT_EQ(b_PSD_ConnectionStatus, 1);
    EXPECT_EQ(g_connections, 1);
    EXPECT_EQ(Read(3), "abc");
    // "NO CARRIER" in command mode ends it; a call when the modem runs
    // circuit-switched only, and a new one starts with an empty ring.
    b_CommandMode = 1;
    modem.NoCarrier();
    ASSERT_TRUE(Eventually([] { return b_PSD_ConnectionStatus == 0; }));
    GSMprotocol = 0;
    ConnectFromModem("x");
    EXPECT_EQ(b_CSD_ConnectionStatus, 1);
    EXPECT_EQ(i_WPtr, 1);
}

// The modem's end text is the last line it sends on a stream; anywhere else
// it is payload.
TEST_F(Modes, OnlyTheModemsLastLineEndsAStream)
{
    ConnectFromModem();
    const std::string binary = Binary();
    modem.SendPayload(binary);
    EXPECT_EQ(Read(binary.size()), binary);
    EXPECT_EQ(WipSocket[0].state, -1);
    const std::pair<const char *, const char *> cases[] = {{"12345NO CARRIER", "12345"},
                                                           {"ERROR\r\n", ""},
                                                           {"ab\r\n\r\nSHUTDOWN\r\n", "ab\r\n"},
                                                           {"line\r\n\r\n+WIPPEERCLOSE: 1\r\n", "line\r\n"},
                                                           {"xy\r\nNO CARRIER\r\n", "xy"}};
    for (auto [sent, payload] : cases) {
        int result = API_ERR_NONE;
        modem.SendPayload(sent);
        EXPECT_EQ(Read(64, &result), payload) << sent;
        EXPECT_EQ(result, API_ERR_GSM_CONNEXION) << sent;
        EXPECT_EQ(b_PSD_ConnectionStatus + b_CSD_ConnectionStatus, 0) << sent;
        ConnectFromModem();
    }
    EXPECT_EQ(WipSocket[0].state, 1);
}

TEST_F(Modes, AReaderWaitsForPayloadAndWhatFindsTheRingFullIsReported)
{
    ConnectFromModem();
    auto pending = std::async(std::launch::async, [] { return Read(4); });
    ASSERT_TRUE(Eventually([] { return b_PSD_WaitForData == 1; }));
    modem.SendPayload("late");
    EXPECT_EQ(pending.get(), "late");
    int received = -1;
    char byte;
    EXPECT_EQ(s_GsmRead(&byte, -1, &received), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(s_GsmRead(&byte, 0, &received), API_ERR_NONE);
    EXPECT_EQ(received, 0);

    std::string sent = Binary() + Binary() + Binary() + Binary() + Binary();
    std::string printed = simtest::Stdout([&] {
        modem.SendPayload(sent);
        modem.NoCarrier();
        ASSERT_TRUE(Eventually([] { return b_ExitDataMode == 1; }));
    });
    EXPECT_EQ(printed.substr(0, 32), "###### Overflow on GSM ########\n");
    int result = API_ERR_NONE;
    EXPECT_EQ(Read(GSM_RING_SIZE, &result), sent.substr(0, GSM_RING_SIZE - 1));
    EXPECT_EQ(result, API_ERR_GSM_CONNEXION);
}

using Escape = GsmTest;

// A call back in data mode is answered only "OK": the call's first bytes
// may share a read with it.
TEST_F(Escape, AnEscapedCallTakesItsPayloadUpAgainAfterOk)
{
    GSMprotocol = 0;
    ConnectFromModem("unread ");
    ASSERT_EQ(API_GSM_SendCmd("AT\r"), API_ERR_NONE);
    EXPECT_TRUE(modem.Log().Contains("host: +++ (escape)"));
    EXPECT_EQ(b_CSD_ConnectionStatus, 1);
    EXPECT_EQ(b_switchToCommandModeRequested, 0);
    modem.SetHandler("ATO", [](sim::GsmModem &line, const std::string &) {
        line.SendRaw("\r\nOK\r\nfirst ");
        return sim::GsmReply{};
    });
    EXPECT_EQ(s_GsmDataMode(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(), (Lines{"AT\r", "AT\r", "ATO\r"}));
    EXPECT_EQ(b_CommandMode, 0);
    modem.SendPayload("after");
    EXPECT_EQ(Read(18), "unread first after");

    modem.SetPowerProbe([] { return sim::GsmModem::Supply{false, 0}; });  // hears nothing any more
    const int polls = SleepsOf(100);
    EXPECT_EQ(s_GsmCmdMode(), API_ERR_TIME_OUT);
    EXPECT_EQ(SleepsOf(100) - polls, 2 * (31 + 11 + 21));  // "+++" 3 s, its echo 1 s, "AT" 2 s; twice
    EXPECT_EQ(b_CommandMode, 0);
    EXPECT_EQ(b_switchToCommandModeRequested, 0);
}

}  // namespace
