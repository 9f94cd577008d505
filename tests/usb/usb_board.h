// The USB tests' base: the standard board with a scripted shell, and a
// recorder for callbacks that run in signal context.
#ifndef TESTS_USB_USB_BOARD_H
#define TESTS_USB_USB_BOARD_H

#include <atomic>
#include <vector>

#include "sim/shell_script.h"
#include "sim_test.h"

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

private:
    static constexpr int kCapacity = 32;
    std::atomic<int> m_values[kCapacity]{};
    std::atomic<int> m_count{0};
};

class UsbBoardTest : public simtest::SimTest {
protected:
    ~UsbBoardTest() override { unitreset::Usb(); }
    sim::ShellScript shell{receiver};
};

}  // namespace usbtest

#endif
