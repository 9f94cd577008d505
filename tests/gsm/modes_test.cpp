// The receive task: unsolicited texts, the payload ring and its reader, and
// the escape to command mode and back.
#include <atomic>
#include <future>

#include "gsm_fixture.h"

namespace {

std::atomic<int> g_connections{0};
void CountConnection() { ++g_connections; }

class Modes : public GsmTest {
protected:
    void SetUp() override
    {
        GsmTest::SetUp();
        StartModem();
        g_connections = 0;
        ASSERT_EQ(API_GSM_DSCCallback(CountConnection), API_ERR_NONE);
    }

    std::string Pattern(size_t size, char first) const
    {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>('a' + (first - 'a' + i) % 26);
        return bytes;
    }

    std::string ReadAll(size_t size)
    {
        std::string data;
        int result = API_ERR_NONE;
        while (data.size() < size && result == API_ERR_NONE)
            data += Read(static_cast<int>(size - data.size()), &result);
        return data;
    }
};

TEST_F(Modes, ConnectStartsAStreamWithTheBytesBehindIt)
{
    EXPECT_EQ(API_GSM_DSCCallback(nullptr), API_ERR_GSM_CALL_NULL);
    ConnectFromModem("abc");
    EXPECT_EQ(b_PSD_ConnectionStatus, 1);
    EXPECT_EQ(b_CSD_ConnectionStatus, 0);
    EXPECT_EQ(g_connections, 1);
    EXPECT_EQ(Read(10), "abc");

    // A call instead of a socket when the modem runs circuit-switched only.
    modem.NoCarrier();
    ASSERT_TRUE(Eventually([] { return b_PSD_ConnectionStatus == 0; }));
    GSMprotocol = 0;
    ConnectFromModem();
    EXPECT_EQ(b_CSD_ConnectionStatus, 1);
    EXPECT_EQ(b_PSD_ConnectionStatus, 0);
}

TEST_F(Modes, RingBlocksTheStatusUntilTheNextConnect)
{
    modem.Ring();
    ASSERT_TRUE(Eventually([] { return bCheckStatus == 0; }));
    ConnectFromModem();
    EXPECT_EQ(bCheckStatus, 1);
}

TEST_F(Modes, EndTextsEndTheStreamAfterThePayloadBeforeThem)
{
    ConnectFromModem();
    modem.SendRaw("12345NO CARRIER\r\n");
    EXPECT_EQ(Read(64), "12345");
    int result = API_ERR_NONE;
    EXPECT_EQ(Read(64, &result), "");
    EXPECT_EQ(result, API_ERR_GSM_CONNEXION);
    EXPECT_EQ(b_PSD_ConnectionStatus, 0);
    EXPECT_EQ(b_CSD_ConnectionStatus, 0);

    // Nothing is delivered from a read that starts with the end text, and the
    // drained ring closes the connection at once.
    ConnectFromModem();
    modem.SendRaw("ERROR\r\nmore");
    ASSERT_TRUE(Eventually([] { return b_PSD_ConnectionStatus == 0; }));
    EXPECT_EQ(Read(64, &result), "");
    EXPECT_EQ(result, API_ERR_GSM_CONNEXION);

    // The end text's own CR LF framing is not payload; the payload's is.
    ConnectFromModem();
    modem.SendRaw("line\r\n\r\n+WIPPEERCLOSE: 1\r\n");
    EXPECT_EQ(Read(64), "line\r\n");
    EXPECT_EQ(WipSocket[0].state, 1);
    ConnectFromModem();
    modem.SendPayload("xy");
    EXPECT_EQ(Read(64), "xy");
    modem.NoCarrier();
    EXPECT_EQ(Read(64, &result), "");
    EXPECT_EQ(result, API_ERR_GSM_CONNEXION);
}

TEST_F(Modes, ReaderTakesWhatIsThereAndWaitsWhenNothingIs)
{
    ConnectFromModem();
    modem.SendPayload("wxyz");
    ASSERT_TRUE(Eventually([] { return i_WPtr == 4; }));
    EXPECT_EQ(Read(10), "wxyz");

    auto pending = std::async(std::launch::async, [this] { return Read(10); });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    modem.SendPayload("late");
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(pending.get(), "late");

    int received = -1;
    char byte;
    EXPECT_EQ(s_GsmRead(&byte, -1, &received), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(s_GsmRead(&byte, 0, &received), API_ERR_NONE);
    EXPECT_EQ(received, 0);
}

TEST_F(Modes, RingWrapsAroundItsEnd)
{
    ConnectFromModem();
    std::string first = Pattern(4050, 'a');
    modem.SendPayload(first);
    EXPECT_EQ(ReadAll(first.size()), first);
    ASSERT_EQ(i_RPtr, 4050);

    std::string second = Pattern(100, 'q');
    modem.SendPayload(second);
    ASSERT_TRUE(Eventually([] { return i_WPtr == 54; }));  // 46 at the end, 54 at the start
    EXPECT_EQ(ReadAll(second.size()), second);
}

TEST_F(Modes, OverflowKeepsTheUnreadBytes)
{
    ConnectFromModem();
    std::string sent = Pattern(5000, 'a');
    ::testing::internal::CaptureStdout();
    modem.SendPayload(sent);
    bool filled = Eventually([] { return i_WPtr == GSM_RING_SIZE - 1; });
    // The rest of the stream reaches a full ring.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(filled);
    EXPECT_NE(printed.find("###### Overflow on GSM ########\n"), std::string::npos);
    EXPECT_EQ(ReadAll(GSM_RING_SIZE - 1), sent.substr(0, GSM_RING_SIZE - 1));
}

TEST_F(Modes, EscapeRunsACommandAndTheSocketResumes)
{
    modem.SetHandler("AT+CSQ", [](sim::GsmModem &, const std::string &) {
        return sim::GsmReply{"+CSQ: 20,0\nOK", false};
    });
    ConnectFromModem();
    EXPECT_EQ(s_GsmSendCmd("AT+CSQ\r"), API_ERR_GSM_INVALID_MODE);

    EXPECT_EQ(API_GSM_SendCmd("AT+CSQ\r"), API_ERR_NONE);
    EXPECT_EQ(b_CommandMode, 1);
    EXPECT_EQ(b_switchToCommandModeRequested, 0);
    EXPECT_EQ(b_PSD_ConnectionStatus, 1);  // the modem keeps the socket
    EXPECT_TRUE(modem.Log().Contains("host: +++ (escape)"));
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT", "AT+CSQ"}));
    EXPECT_EQ(modem.Payload(), "");

    PSDprotocol = 1;
    EXPECT_EQ(s_GsmDataMode(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "AT+WIPDATA=1,1,1");
    EXPECT_EQ(b_CommandMode, 0);
    EXPECT_TRUE(modem.InDataMode());
    modem.SendPayload("resumed");
    EXPECT_EQ(Read(64), "resumed");
}

TEST_F(Modes, AnEscapedCallTakesItsPayloadUpAgainAfterOk)
{
    GSMprotocol = 0;
    ConnectFromModem();
    modem.SendPayload("unread ");
    ASSERT_TRUE(Eventually([] { return i_WPtr - i_RPtr == 7; }));
    ASSERT_EQ(API_GSM_SendCmd("AT\r"), API_ERR_NONE);
    EXPECT_EQ(b_CSD_ConnectionStatus, 1);

    // The call's first bytes may share a read with the answer to "ATO".
    modem.SetHandler("ATO", [](sim::GsmModem &line, const std::string &) {
        line.SendRaw("\r\nOK\r\nfirst ");
        return sim::GsmReply{};
    });
    EXPECT_EQ(s_GsmDataMode(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "ATO");
    EXPECT_EQ(b_CommandMode, 0);
    modem.SendPayload("after");
    ASSERT_TRUE(Eventually([] { return i_WPtr - i_RPtr == 18; })) << "payload taken for an answer";
    EXPECT_EQ(Read(64), "unread first after");
}

TEST_F(Modes, AnUnansweredEscapeLeavesTheLineInDataMode)
{
    ConnectFromModem();
    modem.SetPowerProbe([] { return false; });  // hears nothing any more
    EXPECT_EQ(s_GsmCmdMode(), API_ERR_TIME_OUT);
    EXPECT_EQ(b_CommandMode, 0);
    EXPECT_EQ(b_switchToCommandModeRequested, 0);
}

}  // namespace
