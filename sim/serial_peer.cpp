#include "sim/serial_peer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "sim/pty_line.h"

namespace sim {

namespace {

constexpr auto kOwnReadGap = std::chrono::milliseconds(20);
// A host that reads nothing more does not hold the peer's output for ever.
constexpr auto kOwnReadWait = std::chrono::milliseconds(500);

}  // namespace

SerialPeer::~SerialPeer() { Stop(); }

void SerialPeer::Start(PtyLine &line, bool blockingWrites)
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    if (m_thread.joinable())
        return;
    m_line = &line;
    if (!blockingWrites) {
        int flags = fcntl(line.MasterFd(), F_GETFL);
        fcntl(line.MasterFd(), F_SETFL, flags | O_NONBLOCK);
    }
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(m_name + ": cannot create its wake-up pipe");
    m_stopping = false;
    // Listening from here on: the host may write before the thread first runs.
    line.Traffic().listening = !m_inputHeld;
    m_thread = std::thread([this] { Run(); });
}

void SerialPeer::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_peerMutex);
        if (!m_thread.joinable())
            return;
        m_stopping = true;
    }
    Wake();
    m_thread.join();
    std::lock_guard<std::mutex> lock(m_peerMutex);
    close(m_wake[0]);
    close(m_wake[1]);
    m_wake[0] = m_wake[1] = -1;
}

bool SerialPeer::Running() const
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    return m_thread.joinable() && !m_stopping;
}

void SerialPeer::Wake()
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    if (m_wake[1] >= 0) {
        char byte = 1;
        ssize_t ignored = write(m_wake[1], &byte, 1);
        (void)ignored;
    }
}

void SerialPeer::Queue(std::string bytes, Time due)
{
    if (bytes.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_peerMutex);
        m_output.push_back({std::move(bytes), due});
    }
    Wake();
}

void SerialPeer::QueueOwnRead(std::string bytes)
{
    if (bytes.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_peerMutex);
        m_output.push_back({std::move(bytes), Clock::now(), true});
    }
    Wake();
}

void SerialPeer::DropOutput()
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    m_output.clear();
}

bool SerialPeer::OutputPending() const
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    return !m_output.empty();
}

size_t SerialPeer::QueuedBytes() const
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    size_t bytes = 0;
    for (const Output &output : m_output)
        bytes += output.bytes.size();
    return bytes;
}

void SerialPeer::HoldInput(bool hold)
{
    {
        std::lock_guard<std::mutex> lock(m_peerMutex);
        if (m_inputHeld == hold)
            return;
        m_inputHeld = hold;
    }
    Wake();
}

void SerialPeer::SetHearing(bool hearing, long long heard)
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    m_hearing = hearing;
    m_heard += heard;
}

bool SerialPeer::WaitCaughtUp(int timeoutMs)
{
    const Time until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_line != nullptr) {
        const LineTraffic &host = m_line->HostTraffic();
        Time now = Clock::now();
        bool busy = NextWakeup(now) <= now;
        {
            std::lock_guard<std::mutex> lock(m_peerMutex);
            // What was given up on and has come since is waited for again.
            long settled = host.settled, read = host.read;
            long long toPeer = host.written - m_heard, toHost = m_sent - read;
            m_lost = std::min(m_lost, toPeer);
            m_unread = std::min(m_unread, toHost);
            busy = busy || m_hearing || (!m_output.empty() && m_output.front().due <= now) || toPeer > m_lost ||
                   toHost > m_unread ||
                   (settled != read && read != m_unsettled && host.reader != static_cast<long>(syscall(SYS_gettid)));
            if (busy && now > until) {
                m_lost = toPeer;
                m_unread = toHost;
                m_unsettled = read;
                return false;
            }
        }
        if (!busy)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// When the next output is due; `blocked` when it is due but the host's side
// of the line is full.
SerialPeer::Time SerialPeer::WriteDue(Time now, bool *blocked)
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    *blocked = false;
    while (!m_output.empty() && m_output.front().due <= now) {
        Output &front = m_output.front();
        // The pty hands written bytes on to its reader a moment later: the
        // host has read them when that moment is over and none are left.
        bool waited = now - front.due >= kOwnReadWait;
        if (front.ownRead && !waited && (now - m_lastWrite < kOwnReadGap || m_line->Unread() > 0))
            return now + kOwnReadGap;
        ssize_t written = write(m_line->MasterFd(), front.bytes.data(), front.bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            *blocked = true;
            return Time::max();
        }
        m_lastWrite = now;
        front.ownRead = false;
        m_sent += written;
        m_line->Traffic().NoteSent(written);
        front.bytes.erase(0, static_cast<size_t>(written));
        if (front.bytes.empty())
            m_output.pop_front();
    }
    return m_output.empty() ? Time::max() : m_output.front().due;
}

void SerialPeer::Run()
{
    OnThreadStart();
    int wake, fd;
    {
        std::lock_guard<std::mutex> lock(m_peerMutex);
        wake = m_wake[0];
        fd = m_line->MasterFd();
    }
    for (;;) {
        bool held;
        {
            std::lock_guard<std::mutex> lock(m_peerMutex);
            if (m_stopping) {
                m_line->Traffic().listening = false;
                m_line->Traffic().quiet = true;
                return;
            }
            held = m_inputHeld;
        }
        Serve(Clock::now());
        bool blocked = false;
        Time next = std::min(WriteDue(Clock::now(), &blocked), NextWakeup(Clock::now()));

        short events = static_cast<short>((held ? 0 : POLLIN) | (blocked ? POLLOUT : 0));
        LineTraffic &traffic = m_line->Traffic();
        traffic.listening = !held;
        traffic.quiet = next > Clock::now();
        pollfd fds[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
        timespec timeout{};
        timespec *until = nullptr;
        if (next != Time::max()) {
            auto left = std::max(next - Clock::now(), Clock::duration::zero());
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            until = &timeout;
        }
        int woken = ppoll(fds, 2, until, nullptr);
        traffic.quiet = false;
        if (woken <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(wake, drain, sizeof drain) > 0) {
            }
        }
        if (fds[0].revents & POLLIN) {
            SetHearing(true);
            unsigned char buffer[4096];
            ssize_t count = read(fd, buffer, sizeof buffer);
            if (count > 0)
                Heard(buffer, static_cast<size_t>(count), Clock::now());
            SetHearing(false, std::max<ssize_t>(count, 0));
            traffic.heard += std::max<ssize_t>(count, 0);
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Nobody holds the slave: nothing to hear until someone does.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

}  // namespace sim
