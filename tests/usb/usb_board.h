// A simulated receiver with its standard drivers and a scripted shell, and a
// recorder for callbacks that run in signal context.
#ifndef TESTS_USB_USB_BOARD_H
#define TESTS_USB_USB_BOARD_H

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sim/receiver.h"
#include "sim/shell_script.h"
#include "sim/standard_board.h"

namespace usbtest {

// Atomics only: the values arrive in signal handlers.
class EventRecorder {
public:
    void Record(int value)
    {
        int slot = m_count.load();
        if (slot < kCapacity) {
            m_values[slot].store(value);
            m_count.store(slot + 1);
        }
    }
    std::vector<int> Values() const
    {
        std::vector<int> values;
        for (int i = 0; i < m_count.load(); ++i)
            values.push_back(m_values[i].load());
        return values;
    }
    void Clear() { m_count.store(0); }

private:
    static constexpr int kCapacity = 32;
    std::atomic<int> m_values[kCapacity]{};
    std::atomic<int> m_count{0};
};

// A signal raised at this process is normally handled before kill() returns;
// the wait covers one taken by another thread.
template <typename Condition>
bool WaitUntil(Condition condition)
{
    for (int i = 0; i < 2000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class UsbBoardTest : public ::testing::Test {
protected:
    static sim::ReceiverOptions Fast()
    {
        sim::ReceiverOptions options;
        options.timeScale = 0.001;
        return options;
    }

    sim::Receiver receiver{Fast()};
    sim::StandardBoard board{receiver};
    sim::ShellScript shell{receiver};
};

}  // namespace usbtest

#endif
