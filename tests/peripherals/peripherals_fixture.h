// The small peripheral units on a fresh simulated receiver, their
// process-wide state reset after each test.
#ifndef PERIPHERALS_FIXTURE_H
#define PERIPHERALS_FIXTURE_H

#include <atomic>
#include <vector>

#include "API_Errors.h"
#include "API_MMI.h"
#include "API_Watchdog.h"
#include "sim_test.h"

class PeripheralsTest : public simtest::SimTest {
protected:
    void TearDown() override
    {
        API_MMI_Cleanup();
        API_Watchdog_Stop();
        unitreset::PushButtons();
        unitreset::Gnss();
        unitreset::Ethernet();
    }
};

// Units that talk to the PMU, with its device open as power management leaves it.
class PmuUnitTest : public PeripheralsTest {
protected:
    void SetUp() override { OpenPmu(); }
};

// Values handed to a callback in signal context, read back by the test.
struct SignalRecord {
    std::atomic<int> values[16] = {};
    std::atomic<int> count{0};
    void Add(int value)  // stored before it is counted
    {
        const int at = count.load();
        values[at % 16] = value;
        count = at + 1;
    }
    std::vector<int> Values() const { return std::vector<int>(values, values + count.load()); }
    // A signal sent to the process may be handled on another thread.
    bool WaitForCount(int n) const
    {
        return simtest::Eventually([&] { return count.load() >= n; });
    }
};

#endif
