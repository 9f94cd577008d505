// orvaflash-sim as a child process: its exit, its output and its report,
// with a deadline after which it counts as hung and is killed.
#ifndef SIM_PROCESS_H
#define SIM_PROCESS_H

#include <string>
#include <vector>

namespace faults {

struct SimProcess {
    std::vector<std::string> simArguments;
    std::vector<std::string> loaderArguments;
    int deadlineSeconds = 120;

    // Filled by RunAll.
    std::string sandbox;
    bool started = false;
    bool hung = false;
    int signal = 0;   // the signal that ended it, 0 when it exited
    int status = -1;  // exit status
    double seconds = 0;
    std::string out;
    std::string err;
    std::string report;

    SimProcess(std::vector<std::string> sim, std::vector<std::string> loader)
        : simArguments(std::move(sim)), loaderArguments(std::move(loader)) {}
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // The command line, for failure messages.
    std::string CommandLine() const;
    // Lines of one device log of the report ("pmu", "gpio", "radio /dev/ttyS5"),
    // without their time stamps.
    std::vector<std::string> LogLines(const std::string &device) const;
    bool SandboxHas(const std::string &boardPath) const;
};

// Runs every process, `parallel` at a time.
void RunAll(const std::vector<SimProcess *> &processes, int parallel);

}  // namespace faults

#endif
