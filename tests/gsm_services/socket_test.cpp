// Packet data: bearer start, sockets by address and by name with payload
// checked end to end through the loopback peer, and their failures.
#include <future>

#include "gsm_fixture.h"

namespace {

std::atomic<int> g_connections{0};
void CountConnection() { ++g_connections; }

// Sessions escape from data mode in the middle; see the fixture.
using Socket = ServicesTest;

std::string ReadPsd(size_t size) { return Read(size, nullptr, API_GSM_PSD_ReadData); }

std::future<int> BlockedRead()
{
    auto reader = std::async(std::launch::async, [] {
        char byte;
        int received = -1;
        int result = API_GSM_PSD_ReadData(&byte, 1, &received);
        return received == 0 ? result : -1;
    });
    EXPECT_TRUE(Eventually([] { return b_PSD_WaitForData == 1; }));
    return reader;
}

TEST_F(Socket, TcpSessionCarriesPayloadBothWaysAndKeepsItsUnreadBytesAcrossAQuery)
{
    SetAccess();
    services.AddPeer("192.0.2.10", 5000);
    ASSERT_EQ(API_GSM_DSCCallback(CountConnection), API_ERR_NONE);
    ASSERT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WIPCREATE=2,1,\"192.0.2.10\",5000"));
    EXPECT_EQ(services.Bearer().login + services.Bearer().password, "usersecret");
    EXPECT_EQ(b_PSD_ConnectionStatus + b_CommandMode, 1);
    EXPECT_GE(g_connections, 1);
    const std::string first = AllBytes(1500);
    int written = -1;
    ASSERT_EQ(API_GSM_PSD_WriteData(first.data(), 1500, &written), API_ERR_NONE);
    EXPECT_EQ(written, 1500);
    EXPECT_EQ(ReadPsd(first.size()), first);

    // Unread bytes that wrap around the ring's end, then more while the line
    // is in command mode: the modem hands those over behind the resume.
    const std::string unread = AllBytes(3000).substr(7), later = AllBytes(600, true);
    ASSERT_TRUE(services.PeerSend(unread));
    ASSERT_TRUE(Eventually([&] { return (i_WPtr - i_RPtr + GSM_RING_SIZE) % GSM_RING_SIZE == 2993; }));
    modem.SetHandler("AT+CSQ", [&](sim::GsmModem &, const std::string &) {
        services.PeerSend(later);
        return sim::GsmReply{"+CSQ: 18,0\nOK", false};
    });
    modem.ClearCommands();
    int quality = -1;
    ASSERT_EQ(API_GSM_GetSignalStrength(&quality), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(), (Lines{"AT\r", "AT+CSQ\r", "AT+WIPDATA=2,1,2\r"}));
    EXPECT_TRUE(ReadPsd(unread.size() + later.size()) == unread + later);

    EXPECT_EQ(services.PeerReceived(), first);
    ASSERT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WIPCLOSE=2,1"));
    EXPECT_EQ(Buffer_Cmd_Length, 3);  // while closing, only the result word and its NUL are kept
    char byte;
    int received = -1;
    EXPECT_EQ(API_GSM_PSD_ReadData(&byte, 1, &received), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(received, 0);
}

TEST_F(Socket, UdpByNameKeepsThePeersFirstBytesAndEndsWhenThePeerCloses)
{
    SetAccess();
    services.AddPeer("echo.orva.example", 7, "hello\r\n");
    ASSERT_EQ(API_GSM_PSD_OpenSocketByName(API_GSM_PSD_UDP, "echo.orva.example", 7), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WIPCREATE=1,1,\"echo.orva.example\",7"));
    EXPECT_EQ(ReadPsd(7), "hello\r\n");
    // Left in command mode by a raw command, the socket is taken back for a write.
    ASSERT_EQ(API_GSM_SendCmd("AT\r"), API_ERR_NONE);
    int written = 0;
    ASSERT_EQ(API_GSM_PSD_WriteData("pong", 4, &written), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "AT+WIPDATA=1,1,1\r");
    EXPECT_EQ(ReadPsd(4), "pong");
    // What the peer sent while the line was in command mode comes before its close.
    ASSERT_EQ(API_GSM_SendCmd("AT\r"), API_ERR_NONE);
    ASSERT_TRUE(services.PeerSend("late"));
    services.PeerClose();
    int result = -1;
    EXPECT_EQ(Read(8, &result, API_GSM_PSD_ReadData), "late");
    EXPECT_EQ(result, API_ERR_GSM_CONNEXION);
    ASSERT_EQ(API_GSM_PSD_OpenSocketByName(API_GSM_PSD_UDP, "echo.orva.example", 7), API_ERR_NONE);
    EXPECT_EQ(ReadPsd(7), "hello\r\n");
    // Closing the socket, or the peer's close, ends a read that waits on it.
    auto closed = BlockedRead();
    ASSERT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    EXPECT_EQ(closed.get(), API_ERR_GSM_CONNEXION);
    ASSERT_EQ(API_GSM_PSD_OpenSocketByName(API_GSM_PSD_UDP, "echo.orva.example", 7), API_ERR_NONE);
    EXPECT_EQ(ReadPsd(7), "hello\r\n");
    auto pending = BlockedRead();
    services.PeerClose();
    EXPECT_EQ(pending.get(), API_ERR_GSM_CONNEXION);
    EXPECT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    written = -1;
    EXPECT_EQ(API_GSM_PSD_WriteData("x", 1, &written), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(written, 0);
}

class SocketSetup : public ServicesTest {
protected:
    SocketSetup() : ServicesTest(Expecting()) {}
    static sim::GsmServicesOptions Expecting()
    {
        sim::GsmServicesOptions options;
        options.apn = "internet.orva";
        options.wipVersion = "WIP Soft " + std::string(80, 'v');
        return options;
    }
};

TEST_F(SocketSetup, RefusalsOfTheModemAndOfTheArgumentsCloseTheSocket)
{
    services.AddPeer("192.0.2.10", 5000);
    // Before any socket was opened, the protocol is UDP's.
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(2, "192.0.2.10", 5000), API_ERR_GSM_PSD_INVALID_PROTOCOL);
    EXPECT_EQ(modem.Commands().back(), "AT+WIPCLOSE=1,1\r");
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_GSM_PSD_APN_NOT_DEFINED);
    SetAccess("other.apn");
    EXPECT_EQ(API_GSM_PSD_ConnectBearer(), API_ERR_WIP_BEARER_GPRS_NETWORK);  // the network refuses it (812)
    SetAccess();
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "198.51.100.1", 80), API_ERR_DESTINATION_UNREACHABLE);
}

TEST_F(SocketSetup, ProbesAndPayloadRefusalsAskNothingAndTheBearerStopsOnce)
{
    int written = -1, received = -1, length = -1;
    char buffer[API_GSM_WIP_VERSION_SIZE + 8];
    for (auto write : {std::make_pair("abc", -1), std::make_pair(static_cast<const char *>(nullptr), 3)}) {
        EXPECT_EQ(API_GSM_PSD_WriteData(write.first, write.second, &written), API_ERR_INVALID_PARAMETERS);
        EXPECT_EQ(written, 0);
    }
    EXPECT_EQ(API_GSM_PSD_WriteData("abc", 3, &written), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(API_GSM_PSD_ReadData(buffer, -1, &received), API_ERR_GSM_PSD_READ_NEGATIVE_NUMBER);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(API_GSM_PSD_ReadData(buffer, 8, nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_GSM_PSD_ReadData(buffer, 0, &received), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(API_GSM_PSD_GetVersion(nullptr, &length), API_ERR_REQUIRED_VERSION_NOT_AVAILABLE);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(modem.Commands().empty());
    EXPECT_EQ(API_GSM_PSD_GetIPConfig(0), API_ERR_NONE);  // the configuration probes only ask
    EXPECT_EQ(API_GSM_PSD_SetIPConfig(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(), (Lines{"AT+WSTR=1\r", "AT+CMEE=1\r", "AT+WIPCFG?\r", "AT+CMEE=0\r", "AT+WSTR=1\r"}));

    SetAccess();
    ASSERT_EQ(API_GSM_PSD_ConnectBearer(), API_ERR_NONE);
    // The stack's version is known after its start, cut to its field.
    memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(API_GSM_PSD_GetVersion(buffer, &length), API_ERR_NONE);
    EXPECT_EQ(length, 64);
    EXPECT_EQ(std::string(buffer), ("WIP Soft " + std::string(80, 'v')).substr(0, 63));
    EXPECT_EQ(buffer[64], 'x');
    modem.ClearCommands();
    ASSERT_EQ(API_GSM_PSD_DisconnectBearer(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(),
              (Lines{"AT+CMEE=1\r", "AT+WIPBR=5,6\r", "AT+WIPBR=0,6\r", "AT+WIPCFG=0\r", "AT+CMEE=0\r"}));
    EXPECT_FALSE(services.Bearer().stackStarted);
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_PSD_DisconnectBearer(), API_ERR_NONE);
    EXPECT_TRUE(modem.Commands().empty());
}

}  // namespace
