// Real peers on this machine for the simulated modem and Bluetooth module:
// a socket or a data call of the modem carried over a loopback connection,
// and the Bluetooth module's remote side as a loopback connection or a
// pseudo-terminal.  Nothing but the loopback interface is ever reached.
//
// Each bridge runs its own thread; the devices' threads only hand it bytes.
// Payload keeps its order and is never dropped: each way holds at most
// kBridgeBufferBytes, beyond which the bridge stops reading its local peer,
// or leaves the host's bytes in the serial line as the device's handshake
// would (the host's writes then wait).
//
// What the application's modem reports (GSM):
//   socket towards a routed peer, local peer there    "+WIPREADY: <kind>,1"
//   TCP connection refused                            "+CME ERROR: 843" (reset by peer)
//   no answer within the connect time                 "+CME ERROR: 842" (unreachable)
//   local peer closes or resets a TCP connection      "+WIPPEERCLOSE: 2,1", behind the
//                                                     bytes it sent before
//   call to a routed number, local peer there         "CONNECT"
//   refused / no answer in the connect time           "NO CARRIER" / "NO ANSWER"
//   local peer closes a call's connection             "NO CARRIER" (the remote hangs up)
// A UDP socket is a connected UDP socket: each piece of payload the modem
// hears goes out as one datagram, each datagram comes back as payload;
// datagrams towards a port nobody listens on are lost, as on a network.
// The host's close, hang-up or bearer stop closes the local connection once
// the host's last bytes are through (or after the connect time).
#ifndef SIM_SOCKET_BRIDGE_H
#define SIM_SOCKET_BRIDGE_H

#include <stddef.h>

#include <memory>
#include <string>

#include "sim/event_log.h"

namespace sim {

class BluetoothModule;
class GsmModem;
class GsmServices;

constexpr size_t kBridgeBufferBytes = 64 * 1024;

// An address and port of this machine's loopback interface.
struct LoopbackEndpoint {
    std::string address = "127.0.0.1";
    int port = 0;
    std::string Text() const { return address + ":" + std::to_string(port); }
};

// "PORT" or "ADDRESS:PORT", the address "localhost" or one of 127.0.0.0/8,
// the port 1 to 65535 (or 0 with `anyPort`): false with a message otherwise.
bool ParseLoopback(const std::string &text, LoopbackEndpoint *endpoint, std::string *error, bool anyPort = false);

struct GsmBridgeOptions {
    double connectTimeoutMs = 10000;  // host time
};

class GsmBridge {
public:
    // Takes the routed sockets and calls from the services' own peers until
    // it goes; the services outlive it.
    GsmBridge(GsmModem &modem, GsmServices &services, GsmBridgeOptions options = {});
    ~GsmBridge();
    GsmBridge(const GsmBridge &) = delete;
    GsmBridge &operator=(const GsmBridge &) = delete;

    // Routes; std::invalid_argument for an endpoint off the loopback
    // interface.  A socket's own route comes before the one for all, and a
    // number's before it.
    void RouteAll(const LoopbackEndpoint &local);
    // A socket towards host:port as the application names them.
    void RouteSocket(const std::string &host, int port, const LoopbackEndpoint &local);
    void RouteCall(const std::string &number, const LoopbackEndpoint &local);

    EventLog &Log();

    struct Core;

private:
    GsmServices &m_services;
    std::shared_ptr<Core> m_core;
};

enum class RemoteKind {
    TcpConnect,  // the remote is a local server, connected to whenever the module can take a link
    TcpListen,   // a local client's connection is the remote; one at a time, the others wait
    Pty,         // a terminal program on a pseudo-terminal: open is the link, close hangs up
};

struct BluetoothRemoteOptions {
    RemoteKind kind = RemoteKind::TcpListen;
    LoopbackEndpoint local;  // TcpListen: port 0 takes a free one
    std::string remoteAddress = "00:11:22:33:44:55";
    double retryMs = 1000;  // between attempts towards a local server (host time)
};

class BluetoothBridge {
public:
    // std::runtime_error when the port cannot be listened on or the
    // pseudo-terminal made; std::invalid_argument off the loopback interface.
    BluetoothBridge(BluetoothModule &module, BluetoothRemoteOptions options);
    ~BluetoothBridge();
    BluetoothBridge(const BluetoothBridge &) = delete;
    BluetoothBridge &operator=(const BluetoothBridge &) = delete;

    // The pseudo-terminal a person opens (Pty), else "".
    std::string TerminalPath() const;
    // The port listened on (TcpListen), else 0.
    int ListeningPort() const;
    EventLog &Log();

    struct Core;

private:
    BluetoothModule &m_module;
    std::shared_ptr<Core> m_core;
};

}  // namespace sim

#endif
