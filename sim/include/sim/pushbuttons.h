// The push-button driver behind "/dev/pushbuttons": the record and scroll
// buttons, each answered on its read request with the state the test set.
// It opens for reading only (EACCES otherwise); other requests get ENOTTY.
// The buttons held at boot are not the driver's: the boot sequence leaves
// them in the NOR parameter area (SetBootButtons).
#ifndef SIM_PUSHBUTTONS_H
#define SIM_PUSHBUTTONS_H

#include <stdint.h>

#include <atomic>
#include <utility>

#include "sim/device.h"

namespace sim {

class NorFlash;

class PushButtons : public Device {
public:
    // Read requests (type 0xFF, 4-byte int filled by the driver).
    static constexpr unsigned long kReadRecord = 0x8004FF01;
    static constexpr unsigned long kReadScroll = 0x8004FF02;

    // The value each request hands out; any int, the driver passes it on.
    void SetRecord(int state) { m_record.store(state); }
    void SetScroll(int state) { m_scroll.store(state); }

    // Makes every button request fail with `error` (0 clears).
    void FailIoctl(int error) { m_ioctlError.store(error); }

    int OpenDescriptors() const { return m_open.load(); }
    int Requests() const { return m_requests.load(); }

    int Open(int flags) override;
    void Close() override;
    int Ioctl(unsigned long request, void *argument) override;

private:
    std::atomic<int> m_record{0};
    std::atomic<int> m_scroll{0};
    std::atomic<int> m_ioctlError{0};
    std::atomic<int> m_open{0};
    std::atomic<int> m_requests{0};
};

// The two bytes the boot sequence leaves at 0x3919E: record, scroll.
constexpr uint32_t kBootButtonsAddress = 0x3919E;
void SetBootButtons(NorFlash &nor, uint8_t record, uint8_t scroll);
std::pair<uint8_t, uint8_t> BootButtons(const NorFlash &nor);

}  // namespace sim

#endif
