// Runs the orvaflash-sim binary as a child process, several at once when asked,
// and collects what a user and the simulated receiver saw.
#ifndef E2E_SIM_RUN_H
#define E2E_SIM_RUN_H

#include <sys/resource.h>

#include <string>
#include <vector>

namespace e2e {

// The sandbox stays until the run is destroyed, so its files can be read.
struct SimRun {
    SimRun() = default;
    SimRun(std::vector<std::string> sim, std::vector<std::string> loader)
        : simArguments(std::move(sim)), loaderArguments(std::move(loader))
    {
    }
    ~SimRun();
    SimRun(const SimRun &) = delete;
    SimRun &operator=(const SimRun &) = delete;

    std::vector<std::string> simArguments;     // before "--"
    std::vector<std::string> loaderArguments;  // after "--"
    // Files placed in the sandbox before the run: board path and contents.
    std::vector<std::pair<std::string, std::string>> files;
    int timeoutSeconds = 120;

    // Filled by Run.
    std::string sandbox;
    int status = -1;  // exit status; -1 when killed or not run
    std::string out;
    std::string err;
    std::string report;
    rusage usage{};

    // The file the radio's received blocks were written to.
    std::string RadioBlocks(const std::string &port = "ttyS5") const;
    std::string SandboxFile(const std::string &boardPath) const;
    // Lines of one log section of the report ("pmu", "radio /dev/ttyS5").
    std::vector<std::string> LogLines(const std::string &section) const;
};

// Runs every one, at most `parallel` at a time.
void Run(std::vector<SimRun *> runs, int parallel = 3);
inline void Run(SimRun &run) { Run(std::vector<SimRun *>{&run}); }

// Number of non-overlapping occurrences.
size_t Count(const std::string &text, const std::string &part);
// Whether the parts occur in this order.
bool InOrder(const std::string &text, const std::vector<std::string> &parts);

}  // namespace e2e

#endif
