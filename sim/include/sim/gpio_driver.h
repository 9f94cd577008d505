// The GPIO driver behind "/dev/gpio": the pending-event word with SIGUSR2, the
// SIGIO announcements, the UHF radio's serial mode and the modem's carrier line.
#ifndef SIM_GPIO_DRIVER_H
#define SIM_GPIO_DRIVER_H

#include <stdint.h>

#include <atomic>

#include "sim/device.h"
#include "sim/event_log.h"

namespace sim {

class GpioDriver : public Device {
public:
    // Request numbers of the driver (type 0xFF, 4-byte int argument).
    static constexpr unsigned long kSetSerialMode = 0x4004FF15;
    static constexpr unsigned long kGetSerialMode = 0x8004FF16;
    static constexpr unsigned long kGetDcdLevel = 0x8004FF18;
    static constexpr unsigned long kGetEvents = 0x8004FF19;

    GpioDriver();

    // ORs `bits` into the pending-event word and raises SIGUSR2 at the process
    // with sender uid 0, as the kernel driver does.
    void RaiseEvents(uint32_t bits);
    // Raises SIGIO at the process with sender uid 0.
    void RaiseSigio();
    uint32_t PendingEvents() const { return m_events.load(); }
    void SetPendingEvents(uint32_t bits) { m_events.store(bits); }
    // Whether the event query clears the word (default: it does).
    void SetClearOnRead(bool clear) { m_clearOnRead.store(clear); }
    // Successful and failed event queries so far.
    int EventReads() const { return m_eventReads.load(); }

    int SerialMode() const { return m_serialMode.load(); }
    void SetSerialMode(int mode) { m_serialMode.store(mode); }
    void SetDcdLevel(int level) { m_dcdLevel.store(level); }

    // Makes one request fail with `error` until cleared (at most a few at once).
    void FailIoctl(unsigned long request, int error);
    void ClearIoctlFault(unsigned long request);
    void ClearIoctlFaults();

    // Opens currently held by the program.
    int OpenDescriptors() const { return m_open.load(); }

    // Serial mode and carrier requests, and opens and closes.  The event query
    // is not logged: it runs in signal handlers, where the log cannot be used.
    EventLog &Log() { return m_log; }

    int Open(int flags) override;
    void Close() override;
    int Ioctl(unsigned long request, void *argument) override;

private:
    // Async-signal-safe: atomics only on the event path.
    int FaultFor(unsigned long request) const;

    static constexpr int kFaultSlots = 8;
    std::atomic<unsigned long> m_faultRequests[kFaultSlots];
    std::atomic<int> m_faultErrors[kFaultSlots];

    std::atomic<uint32_t> m_events{0};
    std::atomic<bool> m_clearOnRead{true};
    std::atomic<int> m_eventReads{0};
    std::atomic<int> m_serialMode{0};
    std::atomic<int> m_dcdLevel{0};
    std::atomic<int> m_open{0};
    EventLog m_log{"gpio"};
};

// Sends `signal` to this process with a chosen sender uid (the kernel lets a
// process queue such signal information to itself).  0 on success.
int SendSignalAs(int signal, unsigned uid);

}  // namespace sim

#endif
