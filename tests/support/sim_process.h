// orvaflash-sim as a child process, several at once: its exit, what it
// printed, its report and its sandbox, with a deadline after which it counts
// as hung and is killed.  Shared by the end-to-end tests and the benchmarks.
#ifndef SIM_PROCESS_H
#define SIM_PROCESS_H

#include <sys/resource.h>

#include <string>
#include <utility>
#include <vector>

#include "text_search.h"

namespace simproc {

// The sandbox stays until the run is destroyed, so its files can be read.
struct SimRun {
    SimRun(std::vector<std::string> sim, std::vector<std::string> loader)
        : simArguments(std::move(sim)), loaderArguments(std::move(loader))
    {}
    ~SimRun();
    SimRun(const SimRun &) = delete;
    SimRun &operator=(const SimRun &) = delete;

    std::vector<std::string> simArguments;     // before "--"
    std::vector<std::string> loaderArguments;  // after "--"
    int timeoutSeconds = 120;

    // Filled by Run.
    std::string sandbox;
    int status = -1;  // exit status; -1 when ended by a signal or not run
    int signal = 0;
    double wallMs = 0;
    rusage usage{};
    std::string out, err, report;

    std::string CommandLine() const;
    std::string SandboxFile(const std::string &boardPath) const;
    // Lines of one section of the report ("pmu"), without their time stamps.
    std::vector<std::string> LogLines(const std::string &section) const;
};

// Runs every one, at most `parallel` at a time.
void Run(const std::vector<SimRun *> &runs, int parallel = 3);
inline void Run(SimRun &run) { Run(std::vector<SimRun *>{&run}, 1); }

// What is wrong with the internal radio's power-off; empty when it ran
// exactly once at the end, after `cycles` power cycles of the bootloader
// entry: one "POWER PDL OFF" line and one PMU switch-off (0xC2) each, and
// nothing switching the radio on after the last.
std::string PowerOffProblem(const SimRun &run, size_t cycles = 0);

using textsearch::Count;

}  // namespace simproc

#endif
