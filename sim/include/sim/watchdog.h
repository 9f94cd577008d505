// The watchdog driver behind "/dev/watchdog" (never the host's): one opener at
// a time, started by the open, fed by every write, stopped only by a close
// that follows the magic character "V".  It cannot restart anything; it
// records that the board would have rebooted when it was left running and
// unfed past its time-out.
#ifndef SIM_WATCHDOG_H
#define SIM_WATCHDOG_H

#include <chrono>
#include <mutex>

#include "sim/device.h"
#include "sim/event_log.h"

namespace sim {

class Watchdog : public Device {
public:
    static constexpr unsigned long kKeepAlive = 0x80045705;
    static constexpr unsigned long kSetTimeout = 0xC0045706;
    static constexpr unsigned long kGetTimeout = 0x80045707;
    static constexpr int kDefaultTimeout = 60;

    // Time-outs are in the receiver's seconds, scaled like its sleeps.
    explicit Watchdog(double timeScale = 1.0);

    // Time-outs the driver accepts (default 1 to 65535 s); others: EINVAL.
    void SetTimeoutRange(int minimum, int maximum);
    // Faults, each until cleared with 0.
    void FailWrite(int error);
    void FailIoctl(int error);

    bool IsOpen() const;
    // Started by an open; stopped by a magic close.
    bool IsRunning() const;
    int TimeoutSeconds() const;
    int Opens() const;
    int Feeds() const;
    int MagicCloses() const;
    int UnexpectedCloses() const;
    // Sticky: the watchdog ran unfed past its time-out at some moment.
    bool WouldHaveRebooted() const;

    // "open", "timeout N", "feed", "magic close", "unexpected close", "refused open".
    EventLog &Log() { return m_log; }

    int Open(int flags) override;
    void Close() override;
    ssize_t Write(const void *data, size_t size) override;
    int Ioctl(unsigned long request, void *argument) override;

private:
    using Clock = std::chrono::steady_clock;

    // Notes a lapse since the last feed; called with the lock held.
    void CheckLapse() const;
    void Feed();

    const double m_timeScale;
    mutable std::mutex m_mutex;
    bool m_open = false;
    bool m_running = false;
    bool m_expectClose = false;
    int m_timeout = kDefaultTimeout;
    int m_minTimeout = 1;
    int m_maxTimeout = 65535;
    int m_writeError = 0;
    int m_ioctlError = 0;
    int m_opens = 0;
    int m_feeds = 0;
    int m_magicCloses = 0;
    int m_unexpectedCloses = 0;
    Clock::time_point m_lastFeed;
    mutable bool m_rebooted = false;
    EventLog m_log{"watchdog"};
};

}  // namespace sim

#endif
