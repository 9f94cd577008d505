// The live page: the running simulated receiver on a local web page and an
// HTTP interface to the same controls, served from the program's own process
// on threads of the simulator.
//
//   GET  /              the page (its files are compiled in)
//   GET  /actions       the action table as JSON
//   POST /actions       one action in the words of --at ("press=record")
//   GET  /panel         the panel's last frame as JSON
//   GET  /panel.png     the same as a picture
//   GET  /events        server-sent events: frames, the timeline, the
//                       program's output, its end and the report
//
// Safe by default: one address (the loopback unless told otherwise), a Host
// and an Origin that must name it, bounded bodies, request rates and
// streams, and nothing served but the page and the interface.
//
// The server and its HTTP library live in a module of their own,
// liborva_sim_serve.so beside the simulated liborva_api.so, loaded only when
// the page is asked for: a program run without it loads nothing more.  The
// two meet through the virtual calls below.
#ifndef ORVA_TOOLS_SIM_SERVE_H
#define ORVA_TOOLS_SIM_SERVE_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "sim_control.h"
#include "sim_timeline.h"

namespace simsession {

// What the server reaches of the session.
class ServeHost {
public:
    virtual ~ServeHost() = default;
    virtual ReceiverMs Now() const = 0;
    virtual double TimeScale() const = 0;
    virtual int AddListener(TimelineListener listener, bool replay) = 0;
    virtual void RemoveListener(int id) = 0;
    virtual void Flush() = 0;
    virtual bool LastFrame(PanelFrame *frame) const = 0;
    virtual std::vector<ActionInfo> ActionTable() const = 0;
    // Carries the action out; false with the parser's message when it does
    // not parse.
    virtual bool Perform(const std::string &text, Outcome *outcome, std::string *error) = 0;
    // The panel's picture as a PNG file's bytes; false with the reason.
    virtual bool PanelPng(const PanelFrame &frame, std::vector<uint8_t> *png, std::string *error) const = 0;
};

class LiveServer {
public:
    virtual ~LiveServer() = default;
    // Takes the port (0: any free one) on the address, before anything else
    // runs; false with the reason.
    virtual bool Bind(const std::string &address, int port, std::string *error) = 0;
    // "http://127.0.0.1:8088/"
    virtual std::string Url() const = 0;
    // Serves on its own threads until Stop.  `program` names the page.
    virtual void Start(const std::string &program) = 0;
    // From here on actions are refused: the receiver is going away.  Waits
    // for one being carried out.
    virtual void Ending() = 0;
    // The run's report, for every page from now on.
    virtual void Ended(const std::vector<std::string> &report) = 0;
    // Closes the streams and the port, and waits for the server's threads.
    virtual void Stop() = 0;
};

// False in a build made without cpp-httplib.
bool ServeSupported();
// The server over the host (which must outlive it); null with the reason
// when its module cannot be loaded.
std::unique_ptr<LiveServer> LoadLiveServer(ServeHost &host, std::string *error);

}  // namespace simsession

// The module's one entry.
extern "C" simsession::LiveServer *orva_sim_serve_new(simsession::ServeHost *host);

#endif
