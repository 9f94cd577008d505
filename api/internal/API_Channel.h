// One text channel to a device on a serial interface, as the Bluetooth and
// GSM units drive theirs: the buffer of the device's answers with its
// search and wait, the ring that carries the remote's payload with its flow
// rule, the receive task's life, and the escape from data mode.  Each unit
// keeps its own commands, texts and settings.
#ifndef API_INTERNAL_CHANNEL_H
#define API_INTERNAL_CHANNEL_H

#include <pthread.h>
#include <semaphore.h>
#include <stdint.h>

#include <atomic>
#include <functional>

namespace channel {

constexpr int kSize = 4096;

// What the device answered since the last command was sent.  Written by the
// receive task, cleared when a command goes out, searched by the waiting
// side; the lock keeps each of these whole.
class Answers {
public:
    Answers(char *data, std::atomic<int32_t> &length) : m_data(data), m_length(length) {}

    void Clear();
    // A chunk that does not fit behind what is held starts the buffer afresh.
    void Append(const char *bytes, int count);
    // The buffer becomes `word` and its NUL.
    void SetWord(const char *word);
    char *Find(const char *text) const;
    bool Holds(const char *text) const { return Find(text) != nullptr; }
    // The byte `offset` places after `position` (a hit of Find), -1 outside.
    int ByteAt(const char *position, int offset) const;
    // At most size - 1 bytes and a NUL into `copy` (size above 0).
    int Copy(char *copy, int size) const;
    // Runs `parse(data, length)` on a steady buffer.
    template <typename Parser>
    auto Parse(Parser parse) const
    {
        Guard guard(m_lock);
        return parse(static_cast<const char *>(m_data), Held());
    }

    enum Outcome { kFound, kFailed, kTimeOut };
    // 10 x seconds + 1 looks, 100 ms apart (none before a single look unless
    // `sleepFirst`): kFound once `text` is held, kFailed once `failure` is
    // (when given), kTimeOut at the end and for a negative time.
    Outcome Await(const char *text, int seconds, const char *failure, bool sleepFirst) const;

private:
    struct Guard {
        explicit Guard(pthread_mutex_t &lock) : m(lock) { pthread_mutex_lock(&m); }
        ~Guard() { pthread_mutex_unlock(&m); }
        pthread_mutex_t &m;
    };
    int Held() const;

    char *m_data;
    std::atomic<int32_t> &m_length;
    char *m_end = m_data;
    mutable pthread_mutex_t m_lock = PTHREAD_MUTEX_INITIALIZER;
};

// The remote's payload between the receive task and one reader thread:
// 4096 bytes on the heap, empty when the indices are equal, so at most 4095
// unread.  Unread bytes are never overwritten.
class Ring {
public:
    Ring(std::atomic<int32_t> &write, std::atomic<int32_t> &read, std::atomic<int32_t> &readerWaits, sem_t &wake,
         const char *overflow)
        : m_write(write), m_read(read), m_readerWaits(readerWaits), m_wake(wake), m_overflow(overflow)
    {
    }

    bool Allocate();
    // A reader blocked on the ring learns that it is gone.
    void Release();
    bool Allocated() const { return m_storage != nullptr; }
    // Both indices 0; `zero` also clears the storage.
    void Reset(bool zero = false);
    bool Empty() const { return m_read.load() == m_write.load(); }
    int Unread() const;

    // The flow rule.  What finds the ring full waits for the reader while
    // `mayWait` holds (looked at again every 20 ms and whenever the reader
    // takes something); what is left when it stops holding, or all of it
    // without `mayWait`, is dropped and the overflow line printed.
    void Put(const char *bytes, int count, const std::function<bool()> &mayWait = nullptr);
    // Takes up to `wanted` bytes, blocking while the ring is empty and the
    // stream goes on; -1 once `ended` holds with nothing left (both indices
    // then 0).  A drained ring of an ended stream starts again at 0.
    int Take(char *destination, int wanted, const std::function<bool()> &ended);
    // The stream has ended: an empty ring is reset (true) and a waiting
    // reader told either way.
    bool EndOfStream();
    void WakeReader();
    // A task waiting for room looks at its conditions again.
    void WakeWriter();

private:
    void WakeReaderLocked();

    std::atomic<int32_t> &m_write;
    std::atomic<int32_t> &m_read;
    std::atomic<int32_t> &m_readerWaits;
    sem_t &m_wake;
    const char *m_overflow;
    char *m_storage = nullptr;
    pthread_mutex_t m_lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t m_room = PTHREAD_COND_INITIALIZER;
};

// The receive task's life.  It waits for the line with a time-out so that
// it can look at its orders between reads: a stop ends it, a park takes it
// off the line (a descriptor closed under a read may be reused).
class Task {
public:
    explicit Task(void *(*body)(void *)) : m_body(body) {}

    // Starts the task unless it runs; the thread's creation code.
    int Start(pthread_t *id, const pthread_attr_t *attributes);
    // Ends and joins it; `wake` gets a parked task moving.  From the task
    // itself (a callback) it is detached instead.
    void Stop(const std::function<void()> &wake = nullptr);
    bool Running();
    bool Stopping() const { return m_stop.load() != 0; }

    // Called by the task around its time on the line.  OnLine decides under
    // the lock, so a park that came first is never missed.
    bool OnLine(bool allowed);
    void OffLine();
    // Returns once the task is off the line (at once from the task itself).
    void WaitOffLine();

    // Up to 100 ms for input on the open interface; true when a read will
    // not block (a hung-up line too: its read then fails at once).
    static bool LineReady(int uart);

private:
    void *(*m_body)(void *);
    pthread_t m_id{};
    bool m_running = false;
    bool m_onLine = false;
    std::atomic<int32_t> m_stop{0};
    pthread_mutex_t m_lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t m_changed = PTHREAD_COND_INITIALIZER;
};

// Waits on a semaphore, again when a signal interrupts the wait.
void WaitSemaphore(sem_t *semaphore);

// The escape from data mode: `guardMs` of silence, the answers cleared, then
// "+++"; true when all three bytes went out.
bool SendEscape(int uart, Answers &answers, int guardMs);

}  // namespace channel

#endif
