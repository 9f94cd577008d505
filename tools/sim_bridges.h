// The runners' bridges to real peers on this machine: their options, their
// help, and the bridges brought up on the simulated receiver (sim/socket_bridge.h).
#ifndef ORVA_TOOLS_SIM_BRIDGES_H
#define ORVA_TOOLS_SIM_BRIDGES_H

#include <string>
#include <utility>
#include <vector>

#include "sim/event_log.h"
#include "sim/socket_bridge.h"

namespace sim {
class GsmServices;
struct StandardBoard;
}  // namespace sim

namespace simbridges {

struct SocketRoute {
    std::string host;
    int port;
    sim::LoopbackEndpoint local;
};

struct Options {
    bool gsmAll = false;
    sim::LoopbackEndpoint gsmAllTo;
    std::vector<SocketRoute> sockets;
    std::vector<std::pair<std::string, sim::LoopbackEndpoint>> calls;
    bool bluetooth = false;
    sim::BluetoothRemoteOptions remote;

    bool Gsm() const { return gsmAll || !sockets.empty() || !calls.empty(); }
};

extern const char kHelp[];

bool IsOption(const std::string &option);
// Reads one bridge option's value into `options`: false with a message for
// a bad one.
bool Parse(const std::string &option, const std::string &value, Options *options, std::string *error);

// Brings up the bridges the options ask for on the modem's one network side
// (the session's), with a line on standard error for each; std::exception
// when one cannot be.  What the GSM bridge takes comes before the services'
// own peers; the rest stays theirs.
void Attach(sim::StandardBoard &board, const Options &options, sim::GsmServices &services);
// The bridges' logs, for the report.
std::vector<sim::EventLog *> Logs();

}  // namespace simbridges

#endif
