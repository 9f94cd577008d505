// Scenario files: a timeline of actions and checks in the receiver's time,
// read from YAML (sim_scenario.cpp) and carried out by a thread of the
// session (sim_scenario_run.cpp) that performs the actions through the
// controls and waits on the timeline for what it checks.
//
//   steps:
//     - output: waiting for the buttons   # a line of the program's output holds this text
//     - do: click=record                  # an action, as --at takes it
//     - pmu: buzzer on                    # a PMU request, by the report's name for it
//     - screen: menu.png                  # the panel shows this picture
//       mask: menu-clock.png              # ... but for the pixels marked here
//       within: 5s                        # time-out of a check (default 30s)
//     - log: power on                     # a line of a device log ...
//       source: gsm                       # ... of this source
//     - serial: "battery 100"             # a line the program sent to a peer
//       peer: gsm                         # (gsm or bluetooth; default either)
//     - wait: 2s                          # let receiver time pass
//     - exit: 0                           # the program ends by itself, with this status (or any)
//
// Any step may start at a receiver time: `at: 3s`.  The actions a scenario
// opens with are carried out before the program starts.  Checks look at what
// happened since the step before (an action: since it was carried out); a
// screen check also at the screen shown when it starts.  Without a closing
// `exit` step the program is stopped (SIGTERM) once the last step held.
#ifndef ORVA_TOOLS_SIM_SCENARIO_H
#define ORVA_TOOLS_SIM_SCENARIO_H

#include <stddef.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/display_png.h"
#include "sim_control.h"
#include "sim_timeline.h"

namespace simsession {

struct ScenarioStep {
    enum class Kind { Do, Wait, Screen, Output, Log, Pmu, Serial, Exit };
    Kind kind = Kind::Do;
    int number = 0;  // 1, 2, ...
    int line = 0;    // in the file
    ReceiverMs at = -1;
    ReceiverMs within = 60000;
    ReceiverMs duration = 0;               // Wait
    Action action;                         // Do
    std::string text;                      // what a line holds; Screen: the reference's path as written
    std::string source;                    // Log: the source; Serial: "gsm", "bluetooth" or "" for either
    int status = -1;                       // Exit: -1 for any
    sim::PanelRam reference{}, ignored{};  // Screen: the picture, the mask's marked pixels
    // 'step 3 (line 12, output "record pressed")'
    std::string Name() const;
};

struct Scenario {
    std::string path;
    std::vector<ScenarioStep> steps;
    bool WaitsForExit() const { return !steps.empty() && steps.back().kind == ScenarioStep::Kind::Exit; }
};

// Longest scenario file read.
constexpr size_t kScenarioMaxSize = 1 << 20;

// Reads a scenario from its text; picture paths are relative to `directory`.
// Every action is checked as --at checks it.  Without `readPictures` the
// screen steps' pictures are not opened.  False with a message that names
// the line and the step.
bool ParseScenario(const std::string &text, const std::string &directory, bool readPictures, Scenario *scenario,
                   std::string *error);
// The file, its messages prefixed with its path.  False without YAML support.
bool LoadScenario(const std::string &path, Scenario *scenario, std::string *error);
bool ScenarioSupported();

// The program's end as the session saw it.
struct ProgramEnd {
    bool known = false;
    int status = 0;  // exit status, or 128 + the signal that ended it
    bool signalled = false;
};

// What the runner needs of the session.
struct ScenarioHooks {
    Timeline &timeline;
    Control &control;
    std::string outputDirectory;  // pictures of a failed step
    std::function<void(const std::string &)> say;
    std::function<void()> stopProgram;  // SIGTERM, through the session's end path
    std::function<void()> forceEnd;     // for a program that outlives SIGTERM
    std::function<ProgramEnd()> programEnd;
};

// Listens from its construction; Start runs the steps on a thread of its own.
class ScenarioRunner {
public:
    ScenarioRunner(Scenario scenario, ScenarioHooks hooks);
    ~ScenarioRunner();
    ScenarioRunner(const ScenarioRunner &) = delete;
    ScenarioRunner &operator=(const ScenarioRunner &) = delete;

    void Start();
    // The verdict, once the program has ended: 0 every step held, 1 one
    // failed (or none came in a generous host time).
    int Verdict();

private:
    struct Item {
        enum class Stream { Output, Frame, Event } stream = Stream::Event;
        ReceiverMs ms = 0;
        std::string source;  // an event's
        std::string text;
        std::shared_ptr<const sim::PanelRam> screen;
        // Of a modem or Bluetooth event: the lines the program sent that it
        // completed, or the line still open.
        std::vector<std::string> sent;
    };
    struct Lines;
    void Run();
    void StopProgram();
    void Say(const std::string &line);
    bool RunStep(const ScenarioStep &step, std::vector<std::string> *failure);
    void Explain(const ScenarioStep &step, std::vector<std::string> *lines);
    // Sets the verdict; whether the program has ended.
    bool Conclude(int verdict);
    // False when the program ended (or the runner stops) first.
    bool WaitUntil(std::unique_lock<std::mutex> &lock, ReceiverMs ms);
    // Takes the first item `wanted` takes, waiting for it up to `until`;
    // false at the time-out or the end.
    bool Next(std::unique_lock<std::mutex> &lock, ReceiverMs until, const std::function<bool(const Item &)> &wanted,
              Item *item);
    std::string EndText();

    const Scenario m_scenario;
    const ScenarioHooks m_hooks;
    int m_listener = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_items;  // not taken by a check yet
    bool m_ended = false;
    ReceiverMs m_endMs = 0;
    std::unique_ptr<Lines> m_lines;  // for the messages of a failed step
    sim::PanelRam m_screen{};        // as last published
    bool m_stopping = false;
    int m_verdict = -1;
    size_t m_first = 0;  // the first step of the thread
    std::thread m_thread;
};

}  // namespace simsession

#endif
