#include "sim_bridges.h"

#include <stdio.h>

#include <memory>

#include "sim/gsm_services.h"
#include "sim/standard_board.h"

namespace simbridges {

const char kHelp[] = "Real peers on this machine (loopback only):\n"
                     "  --gsm-bridge [ADDR:]PORT   every GSM socket (TCP or UDP) and data call goes to\n"
                     "                         127.0.0.1:PORT (or ADDR, in 127.0.0.0/8)\n"
                     "  --gsm-bridge HOST:PORT=[ADDR:]LOCALPORT  a socket the program opens towards\n"
                     "                         HOST:PORT goes there (repeatable; before the one above)\n"
                     "  --gsm-call-bridge NUMBER=[ADDR:]PORT  a data call to NUMBER goes there (repeatable)\n"
                     "      A refused connection is the modem's \"+CME ERROR: 843\" (a call's NO CARRIER),\n"
                     "      the local peer's close \"+WIPPEERCLOSE\" (a call's NO CARRIER). Sockets no\n"
                     "      bridge takes still reach the echoing peer.\n"
                     "  --bt-remote tcp-listen:[ADDR:]PORT  the Bluetooth remote is a client that\n"
                     "                         connects there (PORT 0: a free one, printed)\n"
                     "  --bt-remote tcp:[ADDR:]PORT  the remote is the server there, called whenever\n"
                     "                         the module can take a link\n"
                     "  --bt-remote pty         the remote is a terminal program on a pseudo-terminal\n"
                     "                         (its path printed): opening it is the link, closing\n"
                     "                         it hangs up\n"
                     "\n";

namespace {

// What the modem dials: digits and the keypad's signs.
bool DialString(const std::string &number)
{
    return !number.empty() && number.size() <= 64 && number.find_first_not_of("0123456789+*#") == std::string::npos;
}

struct Bridges {
    std::unique_ptr<sim::GsmBridge> gsm;
    std::unique_ptr<sim::BluetoothBridge> bluetooth;
};

// Never destroyed, as the session: the program's tasks may use the devices
// while the process goes down.
Bridges *g_bridges = nullptr;

}  // namespace

bool IsOption(const std::string &option)
{
    return option == "--gsm-bridge" || option == "--gsm-call-bridge" || option == "--bt-remote";
}

bool Parse(const std::string &option, const std::string &value, Options *options, std::string *error)
{
    auto fail = [&](const std::string &why) {
        *error = option + " " + value + ": " + why;
        return false;
    };
    sim::LoopbackEndpoint local;
    size_t equals = value.find('=');
    if (option == "--bt-remote") {
        if (options->bluetooth)
            return fail("the Bluetooth remote is given twice");
        sim::BluetoothRemoteOptions &remote = options->remote;
        const std::string listen = "tcp-listen:", connect = "tcp:";
        if (value == "pty") {
            remote.kind = sim::RemoteKind::Pty;
        } else if (value.compare(0, listen.size(), listen) == 0) {
            remote.kind = sim::RemoteKind::TcpListen;
            if (!sim::ParseLoopback(value.substr(listen.size()), &remote.local, error, true))
                return fail(*error);
        } else if (value.compare(0, connect.size(), connect) == 0) {
            remote.kind = sim::RemoteKind::TcpConnect;
            if (!sim::ParseLoopback(value.substr(connect.size()), &remote.local, error))
                return fail(*error);
        } else {
            return fail("expected tcp-listen:[ADDR:]PORT, tcp:[ADDR:]PORT or pty");
        }
        options->bluetooth = true;
        return true;
    }
    if (option == "--gsm-call-bridge") {
        if (equals == std::string::npos)
            return fail("expected NUMBER=[ADDR:]PORT");
        std::string number = value.substr(0, equals);
        if (!DialString(number))
            return fail("\"" + number + "\" is not a number to dial (digits, +, *, #)");
        if (!sim::ParseLoopback(value.substr(equals + 1), &local, error))
            return fail(*error);
        options->calls.emplace_back(number, local);
        return true;
    }
    if (equals == std::string::npos) {
        if (options->gsmAll)
            return fail("the bridge for every socket and call is given twice");
        if (!sim::ParseLoopback(value, &options->gsmAllTo, error))
            return fail(*error);
        options->gsmAll = true;
        return true;
    }
    std::string peer = value.substr(0, equals);
    size_t colon = peer.rfind(':');
    sim::LoopbackEndpoint remote;
    std::string ignored;
    // The program's peer: any host name or address, and a port.
    if (colon == std::string::npos || colon == 0 || !sim::ParseLoopback(peer.substr(colon + 1), &remote, &ignored))
        return fail("expected HOST:PORT=[ADDR:]LOCALPORT, with the peer the program opens");
    if (!sim::ParseLoopback(value.substr(equals + 1), &local, error))
        return fail(*error);
    options->sockets.push_back({peer.substr(0, colon), remote.port, local});
    return true;
}

void Attach(sim::StandardBoard &board, const Options &options, sim::GsmServices &services)
{
    if (!options.Gsm() && !options.bluetooth)
        return;
    g_bridges = new Bridges;
    if (options.Gsm()) {
        g_bridges->gsm = std::make_unique<sim::GsmBridge>(*board.gsm, services);
        sim::GsmBridge &gsm = *g_bridges->gsm;
        for (const SocketRoute &route : options.sockets) {
            gsm.RouteSocket(route.host, route.port, route.local);
            fprintf(stderr, "sim: gsm: sockets towards %s:%d go to %s\n", route.host.c_str(), route.port,
                    route.local.Text().c_str());
        }
        for (const auto &call : options.calls) {
            gsm.RouteCall(call.first, call.second);
            fprintf(stderr, "sim: gsm: calls to %s go to %s\n", call.first.c_str(), call.second.Text().c_str());
        }
        if (options.gsmAll) {
            gsm.RouteAll(options.gsmAllTo);
            fprintf(stderr, "sim: gsm: %ssockets and calls go to %s\n",
                    options.sockets.empty() && options.calls.empty() ? "" : "other ", options.gsmAllTo.Text().c_str());
        }
    }
    if (options.bluetooth) {
        g_bridges->bluetooth = std::make_unique<sim::BluetoothBridge>(*board.bluetooth, options.remote);
        sim::BluetoothBridge &bluetooth = *g_bridges->bluetooth;
        switch (options.remote.kind) {
        case sim::RemoteKind::Pty:
            fprintf(stderr, "sim: bluetooth remote: open %s with a terminal program\n",
                    bluetooth.TerminalPath().c_str());
            break;
        case sim::RemoteKind::TcpListen:
            fprintf(stderr, "sim: bluetooth remote: connect to %s:%d\n", options.remote.local.address.c_str(),
                    bluetooth.ListeningPort());
            break;
        case sim::RemoteKind::TcpConnect:
            fprintf(stderr, "sim: bluetooth remote: the server at %s\n", options.remote.local.Text().c_str());
            break;
        }
    }
    fflush(stderr);
}

std::vector<sim::EventLog *> Logs()
{
    std::vector<sim::EventLog *> logs;
    if (g_bridges && g_bridges->gsm)
        logs.push_back(&g_bridges->gsm->Log());
    if (g_bridges && g_bridges->bluetooth)
        logs.push_back(&g_bridges->bluetooth->Log());
    return logs;
}

}  // namespace simbridges
