// What every simulated device on a serial line shares: its own thread that
// waits on the line and on a wake-up pipe with a time-out, reads what the
// host sent, runs the device's timers and writes its output once due.
// A device says what it hears, when it next needs the thread, and what it
// does then; each hook runs on the peer's thread without any lock held, so
// a device takes its own.
#ifndef SIM_SERIAL_PEER_H
#define SIM_SERIAL_PEER_H

#include <stddef.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

class PtyLine;

// A copy of `value`, taken under `lock`: the peers' observers.
template <typename T>
T Locked(std::mutex &lock, const T &value)
{
    std::lock_guard<std::mutex> guard(lock);
    return value;
}

// A guard silence counts when it lasted this share of the guard: a peer
// hears the host's bytes a scheduling delay after they were written.
constexpr double kGuardTolerance = 0.8;

class SerialPeer {
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;

    virtual ~SerialPeer();
    SerialPeer(const SerialPeer &) = delete;
    SerialPeer &operator=(const SerialPeer &) = delete;

    // Bytes for the host, written once `due` has come and in the order given;
    // kept while the host is not reading.  Any thread.
    void Queue(std::string bytes, Time due);
    void Queue(std::string bytes) { Queue(std::move(bytes), Clock::now()); }
    // Bytes that start a read of the host's own: written once the host has
    // read everything before them (or has read nothing for half a second).
    // A stream's end that shared a read with the stream's start would be
    // taken for payload.
    void QueueOwnRead(std::string bytes);
    void DropOutput();
    bool OutputPending() const;
    // Bytes queued for the host and not yet written.
    size_t QueuedBytes() const;
    // While held, the host's bytes wait in the line unread, as the device's
    // hardware handshake would hold them: once the line is full the host's
    // writes wait too.  Any thread.
    void HoldInput(bool hold);
    // Waits until the device has heard all the host wrote, has no work due
    // and the host has read all it was sent and come back to the line; false after `timeoutMs` (host
    // time), after which bytes still missing (discarded by a flush, or left
    // unread) are no longer waited for.  Hooked before the program's sleeps
    // (Receiver::SetSleepHook), it has its waits start once the line is
    // quiet instead of counting on a window of time.
    bool WaitCaughtUp(int timeoutMs);

protected:
    explicit SerialPeer(std::string name) : m_name(std::move(name)) {}

    // Makes the wake-up pipe (a std::runtime_error when it cannot be made)
    // and starts the thread on `line`; nothing when it runs.  With
    // `blockingWrites` the device writes the line itself (PtyLine::Send) and
    // may wait for room; otherwise the master is non-blocking and output
    // goes through Queue.  Stop ends and joins the thread; the device's
    // destructor calls Stop before its members go.
    void Start(PtyLine &line, bool blockingWrites = false);
    void Stop();
    bool Running() const;
    // Has the thread look at the device again at once.
    void Wake();

    virtual void Heard(const unsigned char *bytes, size_t count, Time now) = 0;
    // Timers and other work that is due; then when the thread is next needed.
    virtual void Serve(Time) {}
    virtual Time NextWakeup(Time) const { return Time::max(); }
    virtual void OnThreadStart() {}

private:
    struct Output {
        std::string bytes;
        Time due;
        bool ownRead = false;
    };

    void Run();
    void SetHearing(bool hearing, long long heard = 0);
    Time WriteDue(Time now, bool *blocked);

    const std::string m_name;
    PtyLine *m_line = nullptr;
    mutable std::mutex m_peerMutex;
    std::deque<Output> m_output;
    std::thread m_thread;
    int m_wake[2] = {-1, -1};
    bool m_stopping = false;
    bool m_inputHeld = false;
    Time m_lastWrite{};
    bool m_hearing = false;
    // Bytes read from and written to the master, and those of the host's
    // counts given up on.
    long long m_heard = 0;
    long long m_sent = 0;
    long long m_lost = 0;
    long long m_unread = 0;
    // The host's read count at which its holding on to what it read was given up on.
    long m_unsettled = -1;
};

}  // namespace sim

#endif
