// The bridges to real peers on this machine, seen from the application's
// API: local servers and clients on the loopback interface (and a terminal
// on a pseudo-terminal) at the far end of the modem's sockets and calls and
// of the Bluetooth link.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "../gsm/gsm_fixture.h"
#include "API_Bluetooth.h"
#include "internal/API_Bluetooth.h"
#include "sim/socket_bridge.h"

namespace {

// A descriptor closed at the end.
struct Fd {
    explicit Fd(int fd = -1) : fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    void Close()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    int fd;
};

// A socket bound to a free port of 127.0.0.1, listening when it is TCP.
int Bound(int type, int *port, int receiveBuffer = 0)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (receiveBuffer)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), size), 0);
    if (type == SOCK_STREAM) {
        EXPECT_EQ(listen(fd, 4), 0);
    }
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

bool Readable(int fd, int ms = 10000)
{
    pollfd waiting{fd, POLLIN, 0};
    return poll(&waiting, 1, ms) == 1;
}

int Accept(int server) { return Readable(server) ? accept4(server, nullptr, nullptr, SOCK_CLOEXEC) : -1; }

int ConnectTo(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    return fd;
}

// Up to `size` bytes; `*ended` when the peer closed before that.
std::string ReadFd(int fd, size_t size, bool *ended = nullptr)
{
    std::string got;
    char buffer[65536];
    if (ended)
        *ended = false;
    while (got.size() < size && Readable(fd)) {
        ssize_t count = read(fd, buffer, std::min(sizeof buffer, size - got.size()));
        if (count <= 0) {
            if (ended)
                *ended = true;
            break;
        }
        got.append(buffer, static_cast<size_t>(count));
    }
    return got;
}

bool WriteFd(int fd, const std::string &bytes)
{
    return write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

// A readiness poll's answer has 100 ms: the bridges' threads and the local
// peers compete with the modem's for a loaded machine.
class Bridge : public ServicesTest {
protected:
    Bridge() : ServicesTest({}, 0.1) {}
    void SetUp() override
    {
        ServicesTest::SetUp();
        SetAccess();
    }

    sim::LoopbackEndpoint Local(int port) { return {"127.0.0.1", port}; }

    sim::GsmBridge bridge{modem, services};
};

std::string ReadPsd(size_t size, int *result = nullptr) { return Read(size, result, API_GSM_PSD_ReadData); }

TEST_F(Bridge, TcpSocketReachesALocalServerWithoutLossAndEitherEndClosesIt)
{
    int port;
    Fd server(Bound(SOCK_STREAM, &port, 4096));
    bridge.RouteSocket("192.0.2.10", 5000, Local(port));
    ASSERT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_NONE);
    Fd peer(Accept(server.fd));
    // A local server that does not read holds the application's writes back
    // in the line; then everything comes, in order.
    const std::string out = AllBytes(1 << 20);
    auto writer = std::async(std::launch::async, [&] {
        int written = -1;
        return API_GSM_PSD_WriteData(out.data(), static_cast<int>(out.size()), &written) ? -1 : written;
    });
    ASSERT_TRUE(Eventually(
        [&] { return bridge.Log().Contains("the local peer is slow: the host's bytes wait in the line"); }, 10000));
    EXPECT_TRUE(ReadFd(peer.fd, out.size()) == out);
    EXPECT_EQ(writer.get(), static_cast<int>(out.size()));
    // Its answer, then its close behind it.
    const std::string back = AllBytes(3000, true) + "bye";
    ASSERT_TRUE(WriteFd(peer.fd, back));
    peer.Close();
    int result = -1;
    EXPECT_TRUE(ReadPsd(back.size() + 1, &result) == back);
    EXPECT_EQ(result, API_ERR_GSM_CONNEXION);

    // The application's close reaches the server after its last bytes.
    ASSERT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "192.0.2.10", 5000), API_ERR_NONE);
    Fd second(Accept(server.fd));
    int written = -1;
    ASSERT_EQ(API_GSM_PSD_WriteData("last words", 10, &written), API_ERR_NONE);
    ASSERT_EQ(API_GSM_PSD_CloseSocket(), API_ERR_NONE);
    bool ended = false;
    EXPECT_EQ(ReadFd(second.fd, 100, &ended), "last words");
    EXPECT_TRUE(ended);
}

TEST_F(Bridge, UdpDatagramsMakeTheRoundTripAndRefusalsAreTheModemsOwn)
{
    int udpPort, nobody;
    Fd udp(Bound(SOCK_DGRAM, &udpPort));
    close(Bound(SOCK_STREAM, &nobody));
    bridge.RouteAll(Local(nobody));
    bridge.RouteSocket("echo.orva.example", 7, Local(udpPort));
    EXPECT_EQ(API_GSM_PSD_OpenSocketByIP(API_GSM_PSD_TCP, "198.51.100.1", 80), API_ERR_WIP_CONNECTION_RESET_PEER);
    EXPECT_EQ(API_GSM_CSD_Dial("0612"), API_ERR_GSM_CSD_NO_CARRIER);
    EXPECT_THROW(bridge.RouteAll({"192.0.2.1", 7}), std::invalid_argument);

    ASSERT_EQ(API_GSM_PSD_OpenSocketByName(API_GSM_PSD_UDP, "echo.orva.example", 7), API_ERR_NONE);
    int written = -1;
    ASSERT_EQ(API_GSM_PSD_WriteData("ping", 4, &written), API_ERR_NONE);
    char datagram[64];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    ASSERT_TRUE(Readable(udp.fd));
    ASSERT_EQ(recvfrom(udp.fd, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr *>(&from), &size), 4);
    EXPECT_EQ(std::string(datagram, 4), "ping");
    ASSERT_EQ(sendto(udp.fd, "pong", 4, 0, reinterpret_cast<sockaddr *>(&from), size), 4);
    EXPECT_EQ(ReadPsd(4), "pong");
}

TEST_F(Bridge, CallReachesALocalPeerWhoseCloseIsTheRemoteHangingUp)
{
    ASSERT_EQ(API_GSM_SetProtocol(0), API_ERR_NONE);
    int port;
    Fd server(Bound(SOCK_STREAM, &port));
    bridge.RouteCall("0612345678", Local(port));
    ASSERT_EQ(API_GSM_CSD_Dial("0612345678"), API_ERR_NONE);
    Fd peer(Accept(server.fd));
    const std::string out = AllBytes(2000);
    int written = -1;
    ASSERT_EQ(API_GSM_CSD_WriteData(out.data(), static_cast<int>(out.size()), &written), API_ERR_NONE);
    EXPECT_TRUE(ReadFd(peer.fd, out.size()) == out);
    ASSERT_TRUE(WriteFd(peer.fd, "over and out"));
    peer.Close();
    int result = -1;
    EXPECT_EQ(Read(100, &result, API_GSM_CSD_ReadData), "over and out");
    EXPECT_EQ(result, API_ERR_GSM_CONNEXION);
    EXPECT_EQ(b_CSD_ConnectionStatus, 0);

    // Then the line is the application's again; its hang-up closes the local connection.
    ASSERT_EQ(API_GSM_CSD_Dial("0612345678"), API_ERR_NONE);
    Fd second(Accept(server.fd));
    ASSERT_EQ(API_GSM_CSD_HangUp(), API_ERR_NONE);
    bool ended = false;
    EXPECT_EQ(ReadFd(second.fd, 1, &ended), "");
    EXPECT_TRUE(ended);
}

// What the link brings until its end.
std::string ReadLink()
{
    std::string got;
    char buffer[16];
    int count = -1;
    while (API_Bluetooth_ReadData(buffer, sizeof buffer, &count) == API_ERR_NONE)
        got.append(buffer, static_cast<size_t>(count));
    return got;
}

class BluetoothRemote : public simtest::SimTest {
protected:
    BluetoothRemote() : SimTest(0.05) {}
    void SetUp() override
    {
        OpenPmu();
        ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
        ASSERT_EQ(API_Bluetooth_Init(), API_ERR_NONE);
    }
    void TearDown() override
    {
        API_Bluetooth_Cleanup();
        API_NOR_Cleanup();
        unitreset::Bluetooth();
    }
};

TEST_F(BluetoothRemote, EachKindOfRemoteOpensTheLinkCarriesItsBytesAndHangsUp)
{
    int port;
    Fd server(Bound(SOCK_STREAM, &port));
    for (sim::RemoteKind kind : {sim::RemoteKind::TcpListen, sim::RemoteKind::TcpConnect, sim::RemoteKind::Pty}) {
        SCOPED_TRACE(static_cast<int>(kind));
        sim::BluetoothRemoteOptions options;
        options.kind = kind;
        options.local.port = kind == sim::RemoteKind::TcpConnect ? port : 0;
        sim::BluetoothBridge bridge(*board.bluetooth, options);
        Fd remote(kind == sim::RemoteKind::TcpListen    ? ConnectTo(bridge.ListeningPort())
                  : kind == sim::RemoteKind::TcpConnect ? Accept(server.fd)
                                                        : open(bridge.TerminalPath().c_str(), O_RDWR | O_NOCTTY));
        ASSERT_GE(remote.fd, 0);
        ASSERT_TRUE(WriteFd(remote.fd, "hello"));
        ASSERT_TRUE(Eventually([] { return API_Bluetooth_CheckCnxStatus() == 1; }, 10000));
        int count = -1;
        ASSERT_EQ(API_Bluetooth_WriteData("world", 5, &count), API_ERR_NONE);
        EXPECT_EQ(ReadFd(remote.fd, 5), "world");
        remote.Close();
        EXPECT_EQ(ReadLink(), "hello");  // what it sent, then the link's end
        EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 0);
    }
    // A client that says its piece and goes at once, as "echo hi | nc" does.
    sim::BluetoothBridge bridge(*board.bluetooth, {});
    ASSERT_TRUE(WriteFd(Fd(ConnectTo(bridge.ListeningPort())).fd, "hi\n"));
    ASSERT_TRUE(Eventually([] { return API_Bluetooth_CheckCnxStatus() == 1; }, 10000));
    EXPECT_EQ(ReadLink(), "hi\n");
}

}  // namespace
