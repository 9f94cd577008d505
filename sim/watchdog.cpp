#include "sim/watchdog.h"

#include <errno.h>
#include <string.h>

namespace sim {

Watchdog::Watchdog(double timeScale) : m_timeScale(timeScale) {}

void Watchdog::SetTimeoutRange(int minimum, int maximum)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_minTimeout = minimum;
    m_maxTimeout = maximum;
}

void Watchdog::FailWrite(int error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writeError = error;
}

void Watchdog::FailIoctl(int error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ioctlError = error;
}

bool Watchdog::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

bool Watchdog::IsRunning() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

int Watchdog::TimeoutSeconds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timeout;
}

int Watchdog::Opens() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opens;
}

int Watchdog::Feeds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_feeds;
}

int Watchdog::MagicCloses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_magicCloses;
}

int Watchdog::UnexpectedCloses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unexpectedCloses;
}

bool Watchdog::WouldHaveRebooted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CheckLapse();
    return m_rebooted;
}

void Watchdog::CheckLapse() const
{
    if (!m_running || m_rebooted)
        return;
    std::chrono::duration<double> idle = Clock::now() - m_lastFeed;
    if (idle.count() > m_timeout * m_timeScale)
        m_rebooted = true;
}

void Watchdog::Feed()
{
    CheckLapse();
    m_lastFeed = Clock::now();
    ++m_feeds;
}

int Watchdog::Open(int)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_open) {
        m_log.Add("refused open");
        errno = EBUSY;
        return -1;
    }
    CheckLapse();
    m_open = true;
    m_expectClose = false;
    ++m_opens;
    if (!m_running) {
        m_running = true;
        m_lastFeed = Clock::now();
    }
    m_log.Add("open");
    return 0;
}

void Watchdog::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CheckLapse();
    m_open = false;
    if (m_expectClose) {
        m_running = false;
        ++m_magicCloses;
        m_log.Add("magic close");
    } else {
        // The driver keeps counting: the board reboots unless someone reopens and feeds.
        ++m_unexpectedCloses;
        m_log.Add("unexpected close");
    }
    m_expectClose = false;
}

ssize_t Watchdog::Write(const void *data, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_writeError) {
        errno = m_writeError;
        return -1;
    }
    if (size == 0)
        return 0;
    m_expectClose = memchr(data, 'V', size) != nullptr;
    Feed();
    m_log.Add("feed");
    return static_cast<ssize_t>(size);
}

int Watchdog::Ioctl(unsigned long request, void *argument)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (request != kKeepAlive && request != kSetTimeout && request != kGetTimeout) {
        errno = ENOTTY;
        return -1;
    }
    if (m_ioctlError) {
        errno = m_ioctlError;
        return -1;
    }
    if (request == kKeepAlive) {
        Feed();
        m_log.Add("feed");
        return 0;
    }
    if (!argument) {
        errno = EFAULT;
        return -1;
    }
    int *value = static_cast<int *>(argument);
    if (request == kSetTimeout) {
        if (*value < m_minTimeout || *value > m_maxTimeout) {
            errno = EINVAL;
            return -1;
        }
        CheckLapse();
        m_timeout = *value;
        // A new time-out counts from now, as the kernel's drivers do.
        m_lastFeed = Clock::now();
        m_log.Addf("timeout %d", m_timeout);
    }
    *value = m_timeout;
    return 0;
}

}  // namespace sim
