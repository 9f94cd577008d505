// The program's standard output and standard error as it writes them: passed
// on to where they went before (the terminal, a file, a pipe) and published
// on the timeline one line at a time.
#ifndef ORVA_TOOLS_SIM_OUTPUT_H
#define ORVA_TOOLS_SIM_OUTPUT_H

#include <string>
#include <thread>

#include "sim_timeline.h"

namespace simsession {

class OutputTee {
public:
    OutputTee() = default;
    ~OutputTee() { Stop(); }
    OutputTee(const OutputTee &) = delete;
    OutputTee &operator=(const OutputTee &) = delete;

    // Puts a pipe under descriptors 1 and 2 (one that is not open stays as it
    // is).  Call it once, before the program writes.
    void Start(Timeline &timeline);
    // Flushes stdio, gives the descriptors back, and passes on and publishes
    // what was written until then.  Later writes go straight through.
    void Stop();
    // Where standard error went before: the session's own messages go there,
    // so that they are not taken for the program's.
    int Stderr() const { return m_streams[1].original >= 0 ? m_streams[1].original : 2; }

private:
    struct Channel {
        int original = -1;  // the descriptor's earlier file, duplicated
        int pipe = -1;      // the pipe's reading end
        std::string partial;
    };
    void Run();
    // False once the reading end is closed.
    bool Pass(int index);
    void Publish(int index, bool all);

    Timeline *m_timeline = nullptr;
    Channel m_streams[2];
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace simsession

#endif
