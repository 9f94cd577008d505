// orvaflash-sim as a child process in a sandbox of its own: its exit, its
// standard error, its wall time and resources, with a deadline after which it
// is killed as hung.  Used by the load benchmarks.
#ifndef SIM_PROCESS_H
#define SIM_PROCESS_H

#include <sys/resource.h>

#include <string>
#include <utility>
#include <vector>

namespace simproc {

struct SimRun {
    SimRun(std::vector<std::string> sim, std::vector<std::string> loader)
        : simArguments(std::move(sim)), loaderArguments(std::move(loader))
    {}

    std::vector<std::string> simArguments;     // before "--"
    std::vector<std::string> loaderArguments;  // after "--"
    int timeoutSeconds = 120;

    // Filled by Run.
    int status = -1;  // exit status; -1 when ended by a signal or not run
    double wallMs = 0;
    rusage usage{};
    std::string err;
};

// Runs it to its end or its deadline; the sandbox is removed afterwards.
void Run(SimRun &run);

}  // namespace simproc

#endif
