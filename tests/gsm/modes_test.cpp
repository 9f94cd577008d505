// The receive task: the stream's end, and the escape to command mode and
// back.
#include <future>
#include <tuple>

#include "API_Signal.h"
#include "gsm_fixture.h"

namespace {

using Modes = GsmTest;

// The modem's end text is the last line it sends on a stream; anywhere else
// it is payload.
TEST_F(Modes, OnlyTheModemsLastLineEndsAStream)
{
    ConnectFromModem();
    // Every byte value, and the modem's end texts in the middle of it.
    const std::string binary = "NO CARRIER" + AllBytes(512) + "\r\nERROR\r\nSHUTDOWN" + AllBytes(512) +
                               "+WIPPEERCLOSE: 1\r\n\r\nNO CARRIER\r\nend";
    modem.SendPayload(binary);
    EXPECT_EQ(Read(binary.size()), binary);
    EXPECT_EQ(WipSocket[0].state, -1);
    // Each with the payload before its end and the socket's state after it;
    // the modem's lines after its end text are its own.
    const std::tuple<const char *, const char *, int> cases[] = {
        {"12345NO CARRIER", "12345", -1},
        {"ERROR\r\n", "", -1},
        {"ab\r\n\r\nSHUTDOWN\r\n", "ab\r\n", -1},
        {"line\r\n\r\n+WIPPEERCLOSE: 1\r\n\r\nNO CARRIER\r\n", "line\r\n", 1},
        {"xy\r\nNO CARRIER\r\n", "xy", -1},
        {"pay\r\nNO CARRIER\r\n\r\nRING\r\n", "pay", -1},
        {"\r\nNO CARRIER\r\n+WIPPEERCLOSE: 1\r\n", "", 1}};
    for (auto [sent, payload, state] : cases) {
        int result = API_ERR_NONE;
        modem.SendPayload(sent);
        ASSERT_TRUE(Eventually([] { return b_ExitDataMode == 1; })) << sent;
        EXPECT_EQ(Read(64, &result), payload) << sent;
        EXPECT_EQ(result, API_ERR_GSM_CONNEXION) << sent;
        EXPECT_EQ(b_PSD_ConnectionStatus + b_CSD_ConnectionStatus, 0) << sent;
        EXPECT_EQ(WipSocket[0].state + 10 * bCheckStatus, state + 10 * !strstr(sent, "RING")) << sent;
        WipSocket[0].state = -1;
        ConnectFromModem();
    }
}

// An escape pauses a call or a socket, whatever the remote sends around it:
// an "OK" in its payload before "+++" is payload, and a reader that took the
// bytes which came with the escape's "OK" waits for more.
TEST_F(Modes, AnEscapeLosesNoPayloadAndKeepsTheConnection)
{
    for (int protocol : {0, 1}) {
        GSMprotocol = protocol;
        ConnectFromModem();
        bool spoke = false;
        OnSleep([&](long ms) {
            if (ms == 1000 && b_switchToCommandModeRequested == 1 && !spoke)
                spoke = modem.SendPayload("OK?\r\nOK\r\n") && modem.WaitCaughtUp(1000);
        });
        modem.SendBeforeEscapeAnswer("last");
        ASSERT_EQ(s_GsmCmdMode(), API_ERR_NONE);
        auto reader = std::async(std::launch::async, [] { return Read(18); });  // until the end
        EXPECT_TRUE(Eventually([] { return b_PSD_WaitForData == 1; })) << protocol;
        ASSERT_EQ(s_GsmDataMode(), API_ERR_NONE);
        modem.SendPayload("more");
        modem.NoCarrier();
        EXPECT_EQ(reader.get(), "OK?\r\nOK\r\nlastmore") << protocol;
        EXPECT_EQ(CountSent(protocol ? "AT+WIPDATA=1,1,1" : "ATO"), 1);
    }
    OnSleep();
    // A socket or a call that ends during the pause ends the reader's wait.
    for (const char *end : {"+WIPPEERCLOSE: 1", "NO CARRIER"}) {
        ConnectFromModem();
        ASSERT_EQ(s_GsmCmdMode(), API_ERR_NONE);
        auto reader = std::async(std::launch::async, [] {
            int result = 0;
            Read(1, &result);
            return result;
        });
        ASSERT_TRUE(Eventually([] { return b_PSD_WaitForData == 1; }));
        modem.SendLines(end);
        const bool told = Eventually(
            [&] { return reader.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        if (!told)
            API_GSM_Cleanup();  // lets go of a reader left waiting
        ASSERT_TRUE(told) << end;
        EXPECT_EQ(reader.get(), API_ERR_GSM_CONNEXION);
    }
}

// A call back in data mode is answered only "OK": the call's first bytes
// may share a read with it.
TEST_F(Modes, AnEscapedCallTakesItsPayloadUpAgainAfterOk)
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

    // A call that ended while it was paused: its resume brings no "OK".
    ASSERT_EQ(s_GsmCmdMode(), API_ERR_NONE);
    modem.SetHandler("ATO", [](sim::GsmModem &line, const std::string &) {
        line.SendRaw("\r\nNO CARRIER\r\n");
        return sim::GsmReply{};
    });
    EXPECT_NE(s_GsmDataMode(), API_ERR_NONE);
    EXPECT_EQ(b_CSD_ConnectionStatus + 10 * b_CommandMode, 10);
    ConnectFromModem();

    modem.SetPowerProbe([] { return sim::GsmModem::Supply{false, 0}; });  // hears nothing any more
    const int polls = SleepsOf(100);
    EXPECT_EQ(s_GsmCmdMode(), API_ERR_TIME_OUT);
    EXPECT_EQ(SleepsOf(100) - polls, 2 * (31 + 11 + 21));  // "+++" 3 s, its echo 1 s, "AT" 2 s; twice
    EXPECT_EQ(b_CommandMode, 0);
    EXPECT_EQ(b_switchToCommandModeRequested, 0);
}

// The modem's carrier line changing under a call, as the GPIO driver
// reports it once the line has settled and is watched: the unit's hook
// leaves the call, its mode and its unread payload as they were.
TEST_F(Modes, ACarrierChangeLeavesALiveCallAsItIs)
{
    GSMprotocol = 0;
    ConnectFromModem("kept");
    ASSERT_EQ(API_Signal_Initialize(), API_ERR_NONE);
    b_GSM_DCD_Stable = 1, b_GSM_DCD_Enabled = 1;
    modem.ClearCommands();
    const int reads = board.gpio->EventReads();
    board.gpio->RaiseEvents(API_EVENT_GSM_DCD);
    EXPECT_TRUE(Eventually([&] { return board.gpio->EventReads() > reads; }));
    API_Signal_Cleanup();
    EXPECT_EQ((std::vector<int>{b_CSD_ConnectionStatus, b_CommandMode, b_ExitDataMode}), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(modem.Commands(), Lines{});
    EXPECT_EQ(Read(4), "kept");
}

}  // namespace
