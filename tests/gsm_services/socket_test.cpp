// Packet data: bearer start, sockets by address and by name with payload
// checked end to end through the loopback peer, and their failures.
#include <string.h>

#include <algorithm>
#include <atomic>
#include <future>

#include "services_fixture.h"

namespace {

std::atomic<int> g_connections{0};
void CountConnection() { ++g_connections; }

int ReadPsd(char *destination, int wanted, int *received)
{
    return API_GSM_PSD_ReadData(destination, wanted, received);
}

// Sessions escape from data mode in the middle; see the fixture.
class Socket : public ServicesTest {
protected:
    Socket() : ServicesTest(0.05) {}
};

class SocketSetup : public ServicesTest {
protected:
    SocketSetup() : ServicesTest(0.02, Expecting()) {}

    static sim::GsmServicesOptions Expecting()
    {
        sim::GsmServicesOptions options;
        options.apn = "internet.orva";
        return options;
    }
};

TEST_F(Socket, TcpSessionCarriesPayloadBothWaysAcrossAStatusQuery)
{
    SetAccess();
    services.AddPeer("192.0.2.10", 5000);
    g_connections = 0;
    ASSERT_EQ(API_GSM_DSCCallback(CountConnection), API_ERR_NONE);

    ASSERT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WIPBR=2,6,11,\"internet.orva\""));
    EXPECT_TRUE(Sent("AT+WIPCREATE=2,1,\"192.0.2.10\",5000"));
    EXPECT_EQ(services.Bearer().login, "user");
    EXPECT_EQ(services.Bearer().password, "secret");
    EXPECT_EQ(b_PSD_ConnectionStatus, 1);
    EXPECT_EQ(b_CommandMode, 0);
    EXPECT_GE(g_connections, 1);

    const std::string first = AllBytes(1500);
    int written = -1;
    ASSERT_EQ(API_GSM_PSD_WriteData(first.data(), static_cast<int>(first.size()), &written), API_ERR_NONE);
    EXPECT_EQ(written, 1500);
    EXPECT_EQ(ReadAll(ReadPsd, first.size()), first);

    // A query escapes to command mode and goes back to the socket.
    modem.ClearCommands();
    int quality = -1;
    ASSERT_EQ(API_GSM_GetSignalStrength(&quality), API_ERR_NONE);
    EXPECT_EQ(quality, 18);
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT\r", "AT+CSQ\r", "AT+WIPDATA=2,1,2\r"}));
    EXPECT_EQ(b_CommandMode, 0);

    // Opening again, or starting the bearer, leaves the socket as it was.
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_GSM_CONNEXION_ALREADY_EXISTS);
    EXPECT_EQ(API_GSM_PSD_ConnectBearer(), API_ERR_GSM_CONNEXION_ALREADY_EXISTS);
    EXPECT_FALSE(Sent("AT+WIPCLOSE=2,1"));

    std::string second = AllBytes(3000);
    std::reverse(second.begin(), second.end());
    ASSERT_EQ(API_GSM_PSD_WriteData(second.data(), static_cast<int>(second.size()), &written), API_ERR_NONE);
    EXPECT_EQ(ReadAll(ReadPsd, second.size()), second);
    EXPECT_EQ(services.PeerReceived(), first + second);

    ASSERT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WIPCLOSE=2,1"));
    EXPECT_EQ(WipSocket[0].state, 1);
    EXPECT_EQ(Buffer_Cmd_Length, 3);  // while closing, only the result word and its NUL are kept
    EXPECT_FALSE(services.Socket().open);
    char byte;
    int received = -1;
    EXPECT_EQ(API_GSM_PSD_ReadData(&byte, 1, &received), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(received, 0);
    written = -1;
    EXPECT_EQ(API_GSM_PSD_WriteData("x", 1, &written), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(written, 0);
}

TEST_F(Socket, UnreadPayloadSurvivesAStatusQueryAndComesBeforeWhatFollows)
{
    SetAccess();
    services.AddPeer("192.0.2.10", 5000);
    ASSERT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_NONE);

    // Read once, so that the unread bytes below wrap around the ring's end.
    const std::string warmUp = AllBytes(1500);
    ASSERT_TRUE(services.PeerSend(warmUp));
    ASSERT_EQ(ReadAll(ReadPsd, warmUp.size()), warmUp);

    const std::string unread = AllBytes(3000).substr(7);
    ASSERT_TRUE(services.PeerSend(unread));
    ASSERT_TRUE(Eventually([&] {
        return (i_WPtr - i_RPtr + GSM_RING_SIZE) % GSM_RING_SIZE == static_cast<int>(unread.size());
    }));

    // The peer speaks again while the line is in command mode: the modem
    // holds that back and hands it over right behind the resume's CONNECT.
    std::string later = AllBytes(600);
    std::reverse(later.begin(), later.end());
    modem.SetHandler("AT+CSQ", [&](sim::GsmModem &, const std::string &) {
        services.PeerSend(later);
        return sim::GsmReply{"+CSQ: 18,0\nOK", false};
    });
    int quality = -1;
    ASSERT_EQ(API_GSM_GetSignalStrength(&quality), API_ERR_NONE);
    EXPECT_EQ(quality, 18);
    EXPECT_EQ(modem.Commands().back(), "AT+WIPDATA=2,1,2\r");
    EXPECT_EQ(b_CommandMode, 0);

    const std::string received = ReadAll(ReadPsd, unread.size() + later.size());
    EXPECT_EQ(received.size(), unread.size() + later.size());
    EXPECT_TRUE(received == unread + later) << "payload lost or out of order";
}

TEST_F(Socket, UdpByNameKeepsThePeersFirstBytesAndEndsWhenThePeerCloses)
{
    SetAccess();
    services.AddPeer("echo.orva.example", 7, "hello\r\n");
    ASSERT_EQ(API_GSM_PSD_OpenSocketByName(API_GSM_PSD_UDP, "echo.orva.example", 7), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WIPCREATE=1,1,\"echo.orva.example\",7"));
    EXPECT_EQ(ReadAll(ReadPsd, 7), "hello\r\n");

    int written = 0;
    ASSERT_EQ(API_GSM_PSD_WriteData("ping", 4, &written), API_ERR_NONE);
    EXPECT_EQ(ReadAll(ReadPsd, 4), "ping");
    // Left in command mode by a raw command, the socket is taken back for a write.
    ASSERT_EQ(API_GSM_SendCmd("AT\r"), API_ERR_NONE);
    ASSERT_EQ(API_GSM_PSD_WriteData("pong", 4, &written), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "AT+WIPDATA=1,1,1\r");
    EXPECT_EQ(ReadAll(ReadPsd, 4), "pong");
    // Closing the socket ends a read that waits on it.
    auto closed = std::async(std::launch::async, [] {
        char byte;
        int received = -1;
        return API_GSM_PSD_ReadData(&byte, 1, &received);
    });
    ASSERT_TRUE(Eventually([] { return b_PSD_WaitForData == 1; }));
    ASSERT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    EXPECT_EQ(closed.get(), API_ERR_GSM_CONNEXION);
    ASSERT_EQ(API_GSM_PSD_OpenSocketByName(API_GSM_PSD_UDP, "echo.orva.example", 7), API_ERR_NONE);
    EXPECT_EQ(ReadAll(ReadPsd, 7), "hello\r\n");

    auto pending = std::async(std::launch::async, [] {
        char byte;
        int received = -1;
        int result = API_GSM_PSD_ReadData(&byte, 1, &received);
        return received == 0 ? result : -1;
    });
    ASSERT_TRUE(Eventually([] { return b_PSD_WaitForData == 1; }));
    services.PeerClose();
    EXPECT_EQ(pending.get(), API_ERR_GSM_CONNEXION);
    EXPECT_EQ(WipSocket[0].state, 1);

    testing::internal::CaptureStdout();
    EXPECT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No GSM PSD Connection to close\n");
    written = -1;
    EXPECT_EQ(API_GSM_PSD_WriteData("x", 1, &written), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(written, 0);

    // The line comes back to command mode for the next operation.
    int band = -1;
    EXPECT_EQ(API_GSM_GetBand(&band), API_ERR_NONE);
    EXPECT_EQ(band, 5);
}

TEST_F(SocketSetup, MissingAccessPointNameStopsTheStartAndALaterOpenSucceeds)
{
    services.AddPeer("192.0.2.10", 5000);
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_GSM_PSD_APN_NOT_DEFINED);
    EXPECT_TRUE(Sent("AT+WIPBR=1,6"));
    EXPECT_FALSE(SentStartingWith("AT+WIPBR=2,"));
    EXPECT_TRUE(Sent("AT+WIPCLOSE=2,1"));
    EXPECT_FALSE(services.Bearer().stackStarted);

    SetAccess();
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_NONE);
    EXPECT_TRUE(services.Bearer().bearerUp);
}

TEST_F(SocketSetup, RefusalsOfTheModemAndOfTheArgumentsCloseTheSocket)
{
    // Before any socket was opened, the protocol is UDP's.
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(2, "192.0.2.10", 5000), API_ERR_GSM_PSD_INVALID_PROTOCOL);
    EXPECT_EQ(modem.Commands().back(), "AT+WIPCLOSE=1,1\r");
    SetAccess("other.apn");
    services.AddPeer("192.0.2.10", 5000);
    // The network refuses the access point (extended error 812).
    EXPECT_EQ(API_GSM_PSD_ConnectBearer(), API_ERR_WIP_BEARER_GPRS_NETWORK);
    EXPECT_EQ(b_PSD_BearerConnected, 0);

    SetAccess();
    EXPECT_EQ(API_GSM_PSD_ConnectBearer(), API_ERR_NONE);
    EXPECT_EQ(b_PSD_BearerConnected, 1);
    EXPECT_EQ(b_CommandMode, 1);

    modem.ClearCommands();
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "198.51.100.1", 80), API_ERR_DESTINATION_UNREACHABLE);
    EXPECT_TRUE(Sent("AT+WIPCLOSE=2,1"));
    EXPECT_FALSE(Sent("AT+WIPBR=1,6")) << "the bearer is up already";

    modem.ClearCommands();
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(2, "192.0.2.10", 5000), API_ERR_GSM_PSD_INVALID_PROTOCOL);
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_UDP, nullptr, 5000), API_ERR_GSM_PSD_INVALID_IP_ADDRESS);
    EXPECT_EQ(API_GSM_PSD_OpenSocketByName(API_GSM_PSD_UDP, nullptr, 5000), API_ERR_GSM_PSD_INVALID_HOST_NAME);
    EXPECT_EQ(CountSent("AT+WIPCLOSE=2,1"), 3);
    EXPECT_FALSE(SentStartingWith("AT+WIPCREATE"));

    // UDP by address names the local port.
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_UDP, "192.0.2.10", 5000), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WIPCREATE=1,1,80,\"192.0.2.10\",5000"));
    EXPECT_EQ(services.Socket().localPort, 80);
    ASSERT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands()[modem.Commands().size() - 2], "AT+WIPCLOSE=1,1\r");
}

TEST_F(SocketSetup, PayloadOperationsRefuseBadArgumentsAndAMissingSocket)
{
    int written = -1;
    EXPECT_EQ(API_GSM_PSD_WriteData(nullptr, 3, &written), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(written, 0);
    written = -1;
    EXPECT_EQ(API_GSM_PSD_WriteData("abc", -1, &written), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(written, 0);
    written = -1;
    EXPECT_EQ(API_GSM_PSD_WriteData("abc", 3, &written), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(written, 0);

    char buffer[8];
    int received = -1;
    EXPECT_EQ(API_GSM_PSD_ReadData(buffer, -1, &received), API_ERR_GSM_PSD_READ_NEGATIVE_NUMBER);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(API_GSM_PSD_ReadData(buffer, 8, &received), API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_TRUE(modem.Commands().empty());

    testing::internal::CaptureStdout();
    EXPECT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No GSM PSD Connection to close\n");
}

TEST_F(SocketSetup, DisconnectStopsBearerAndStackOnce)
{
    // The configuration probes only ask.
    EXPECT_EQ(API_GSM_PSD_GetIPConfig(0), API_ERR_NONE);
    EXPECT_EQ(API_GSM_PSD_SetIPConfig(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT+WSTR=1\r", "AT+CMEE=1\r", "AT+WIPCFG?\r", "AT+CMEE=0\r",
                                                          "AT+WSTR=1\r"}));
    modem.ClearCommands();
    SetAccess();
    ASSERT_EQ(API_GSM_PSD_ConnectBearer(), API_ERR_NONE);
    modem.ClearCommands();
    ASSERT_EQ(API_GSM_PSD_DisconnectBearer(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(),
              (std::vector<std::string>{"AT+CMEE=1\r", "AT+WIPBR=5,6\r", "AT+WIPBR=0,6\r", "AT+WIPCFG=0\r", "AT+CMEE=0\r"}));
    EXPECT_FALSE(services.Bearer().stackStarted);
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_PSD_DisconnectBearer(), API_ERR_NONE);
    EXPECT_TRUE(modem.Commands().empty());
}

class LongVersion : public ServicesTest {
protected:
    LongVersion() : ServicesTest(0.02, Options()) {}

    static sim::GsmServicesOptions Options()
    {
        sim::GsmServicesOptions options;
        options.wipVersion = "WIP Soft " + std::string(80, 'v');
        return options;
    }
};

TEST_F(LongVersion, StackVersionIsKnownAfterTheFirstStartAndCut)
{
    int length = -1;
    if (API_GSM_PSD_GetVersion(nullptr, &length) != API_ERR_REQUIRED_VERSION_NOT_AVAILABLE)
        GTEST_SKIP() << "the stack's version is read once per process";
    EXPECT_EQ(length, 0);
    SetAccess();
    ASSERT_EQ(API_GSM_PSD_ConnectBearer(), API_ERR_NONE);
    char version[API_GSM_WIP_VERSION_SIZE + 8];
    memset(version, 'x', sizeof version);
    ASSERT_EQ(API_GSM_PSD_GetVersion(version, &length), API_ERR_NONE);
    EXPECT_EQ(length, 64);
    EXPECT_EQ(std::string(version), ("WIP Soft " + std::string(80, 'v')).substr(0, 63));
    EXPECT_EQ(version[64], 'x');
}

}  // namespace
