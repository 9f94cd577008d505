// The one base of the tests that run the API in-process: a fresh simulated
// receiver per test (sandbox, the standard board's device models and serial
// peers) at a time scale of the test's choosing, and a wait for a condition.
#ifndef ORVA_TESTS_SIM_TEST_H
#define ORVA_TESTS_SIM_TEST_H

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "sim/receiver.h"
#include "sim/standard_board.h"
#include "unit_reset.h"

namespace simtest {

inline sim::ReceiverOptions Scaled(double timeScale)
{
    sim::ReceiverOptions options;
    options.timeScale = timeScale;
    return options;
}

// Polls `condition` every millisecond for up to `ms` of host time.  Wait for
// the event a test expects, never for a fixed time.
inline bool Eventually(const std::function<bool()> &condition, int ms = 3000)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// What `action` printed on standard output.
template <typename Action>
std::string Stdout(Action action)
{
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

// A time scale of 0.001 turns the API's waits into microseconds; tests whose
// outcome hangs on a guard time (an escape's silence) take a larger one.
class SimTest : public ::testing::Test {
protected:
    explicit SimTest(double timeScale = 0.001) : receiver(Scaled(timeScale)), board(receiver) {}
    // The PMU device as power management leaves it open: units that talk to
    // the PMU need it.  Closed again by the destructor.
    void OpenPmu() { ASSERT_TRUE(unitreset::OpenPmu()); }
    ~SimTest() override { unitreset::ClosePmu(); }
    // Sleeps the program asked for of exactly `ms` (unscaled): a wait's length
    // is seen without timing it.
    int SleepsOf(long ms) const
    {
        int count = 0;
        for (const timespec &sleep : receiver.Sleeps())
            count += sleep.tv_sec * 1000 + sleep.tv_nsec / 1000000 == ms;
        return count;
    }

    sim::Receiver receiver;
    sim::StandardBoard board;
};

}  // namespace simtest

#endif
