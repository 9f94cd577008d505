// The bench's controls: named actions on a running simulated receiver (press
// a button, plug USB, pulse the PPS line, open a Bluetooth link, ring the
// modem ...), each carried out through the device models as the hardware
// would produce it: a driver's state, presence files, the GPIO driver's event
// word with SIGUSR2, SIGIO, the modem's and the module's serial lines.  One
// table serves every front end: the command line's --at, scenario files, a
// live page.
//
// Text form: "name=value", e.g. "press=record", "battery=40",
// "gsm-sim=pin:1234", "bt-data=hello\r\n".  Text values take the escapes
// \r \n \t \\ and \xNN.
#ifndef ORVA_TOOLS_SIM_CONTROL_H
#define ORVA_TOOLS_SIM_CONTROL_H

#include <stdint.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim_timeline.h"

namespace sim {
class GsmServices;
struct StandardBoard;
}  // namespace sim

namespace simsession {

// One row of the table.
struct ActionInfo {
    const char *name;
    const char *group;   // "buttons", "power", "usb", "ethernet", "gnss", "bluetooth", "gsm"
    const char *values;  // the value's syntax, e.g. "record|scroll[,MS]"
    const char *help;
};
// Every action, in the order they are listed.
const std::vector<ActionInfo> &Actions();
// The table as `orva-sim --list-actions` prints it.
std::string ActionListing();

// An action with its value read and checked.
struct Action {
    std::string name;
    std::string value;  // as given
    int choice = -1;    // index of the value's keyword among those of the syntax
    double number = 0;  // the value's number (a level, a time, a status word ...)
    std::vector<int> numbers;
    std::string text;  // decoded bytes, an address, a name, a PIN
    std::string Text() const { return name + "=" + value; }
};
// False with a message that names the accepted values.
bool Parse(const std::string &text, Action *action, std::string *error);

struct Outcome {
    ReceiverMs ms = 0;  // when it was carried out
    bool done = false;
    std::string action;  // "name=value"
    std::string text;    // what was done, or why it was refused
    // "press=record: record button pressed",
    // "bt-link=open refused: no application has opened the Bluetooth server".
    std::string Line() const { return action + (done ? ": " : " refused: ") + text; }
};

// What the actions drive.
struct BenchParts {
    sim::StandardBoard &board;
    sim::GsmServices &gsm;
    Timeline &timeline;
};

struct ControlState;
struct ControlContext;

// Thread-safe: actions may come from any thread at once; each is carried out
// whole before the next, and logged on the timeline (source "action").
class Control {
public:
    explicit Control(BenchParts parts);
    // Stops the scheduler.
    ~Control();
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    Outcome Perform(const Action &action);
    // A text that does not parse comes back refused with the parser's message.
    Outcome Perform(const std::string &text);

    // Performs the action at a receiver time (at once when it is past) on the
    // control's own thread; `done` gets the outcome there.
    void PerformAt(ReceiverMs ms, const Action &action, std::function<void(const Outcome &)> done = nullptr);
    // Actions scheduled and not performed yet, by time.
    std::vector<std::pair<ReceiverMs, Action>> Pending() const;
    // Ends the scheduling: the PPS train stops, nothing scheduled is performed
    // any more; gives what was still pending.  Perform keeps working.  Not
    // from a `done` (nor the destructor): it waits for the control's thread.
    std::vector<std::pair<ReceiverMs, Action>> Stop();

private:
    friend struct ControlContext;
    struct Task {
        ReceiverMs ms;
        uint64_t order;
        bool isAction;
        Action action;
        std::function<void()> run;
    };
    void Schedule(ReceiverMs ms, bool isAction, const Action &action, std::function<void()> run);
    void RunScheduler();
    void Pulse(uint64_t train, ReceiverMs ms);

    BenchParts m_parts;
    std::mutex m_performMutex;
    std::unique_ptr<ControlState> m_state;  // guarded by m_performMutex

    mutable std::mutex m_scheduleMutex;
    std::condition_variable m_scheduleChanged;
    std::vector<Task> m_tasks;
    uint64_t m_order = 0;
    bool m_stopped = false;
    std::thread m_scheduler;
};

}  // namespace simsession

#endif
