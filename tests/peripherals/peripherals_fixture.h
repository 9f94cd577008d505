// A fresh simulated receiver for each test of the small peripheral units.
// Some unit state lives for the whole process (the boot buttons, the PPS
// function, the stored watchdog time-out): the tests that depend on it
// expect a process of their own, as ctest runs them.
#ifndef PERIPHERALS_FIXTURE_H
#define PERIPHERALS_FIXTURE_H

#include <fcntl.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "API_MMI.h"
#include "API_Watchdog.h"
#include "board.h"
#include "internal/API_PM.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

inline sim::ReceiverOptions FastReceiver()
{
    sim::ReceiverOptions options;
    options.timeScale = 0.001;
    return options;
}

class PeripheralsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        API_MMI_Cleanup();
        API_Watchdog_Stop();
    }

    sim::Receiver receiver{FastReceiver()};
    sim::StandardBoard board{receiver};
};

// Units that talk to the PMU, with its device open as power management leaves it.
class PmuUnitTest : public PeripheralsTest {
protected:
    void SetUp() override { ASSERT_GT(ifd_pmu = Board_Open("/dev/pmu", O_RDWR, 0), 0); }
    void TearDown() override
    {
        Board_Close(ifd_pmu);
        ifd_pmu = 0;
        PeripheralsTest::TearDown();
    }
};

// Values handed to a callback in signal context, read back by the test.
class SignalRecord {
public:
    void Add(int value)
    {
        int index = m_count.load();
        if (index < kCapacity)
            m_values[index].store(value);
        m_count.store(index + 1);
    }
    std::vector<int> Values() const
    {
        std::vector<int> values;
        for (int i = 0; i < m_count.load() && i < kCapacity; ++i)
            values.push_back(m_values[i].load());
        return values;
    }
    void Clear() { m_count.store(0); }
    // A signal sent to the process may be handled on another thread.
    bool WaitForCount(int count) const
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_count.load() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_count.load() >= count;
    }

private:
    static constexpr int kCapacity = 16;
    std::atomic<int> m_values[kCapacity] = {};
    std::atomic<int> m_count{0};
};

#endif
