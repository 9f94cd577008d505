// Values handed to callbacks that run in signal handlers: atomics only.
#ifndef ORVA_TESTS_EVENT_RECORDER_H
#define ORVA_TESTS_EVENT_RECORDER_H

#include <atomic>
#include <vector>

namespace simtest {

struct EventRecorder {
    // Stored before it is counted: a reader never sees a slot unwritten.
    void Record(int value)
    {
        if (int slot = count.load(); slot < 32) {
            values[slot] = value;
            count = slot + 1;
        }
    }
    std::vector<int> Values() const { return std::vector<int>(values, values + count.load()); }

    std::atomic<int> values[32]{};
    std::atomic<int> count{0};
};

}  // namespace simtest

#endif
