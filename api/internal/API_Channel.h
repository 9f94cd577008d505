// One text channel to a device on a serial interface, as the Bluetooth and
// GSM units drive theirs; each unit keeps its own commands, texts and settings.
#ifndef API_INTERNAL_CHANNEL_H
#define API_INTERNAL_CHANNEL_H

#include <pthread.h>
#include <semaphore.h>
#include <stdint.h>
#include <termios.h>

#include <atomic>

namespace channel {

constexpr int kSize = 4096;

// First `text` within the first `count` bytes of `data` (zero bytes included).
char *Find(const char *data, int count, const char *text);

// What the device answered since the last command went out: written by the
// receive task, searched by the waiting side, each under the lock.
class Answers {
public:
    Answers(char *data, std::atomic<int32_t> &length) : m_data(data), m_length(length) {}

    void Clear();
    // A chunk that does not fit behind what is held starts the buffer afresh.
    void Append(const char *bytes, int count);
    char *Find(const char *text) const;
    bool Holds(const char *text) const { return Find(text) != nullptr; }
    // The byte `offset` places after `position` (a hit of Find), -1 outside.
    int ByteAt(const char *position, int offset) const;
    // At most size - 1 bytes and a NUL into `copy`; the count.
    int Copy(char *copy, int size) const;
    // 10 x seconds + 1 looks 100 ms apart (a single one unslept unless
    // `sleepFirst`): 0 once `text` is held, 92 once `failure` is, else 24.
    int Wait(const char *text, int seconds, const char *failure, bool sleepFirst) const;

private:
    int Held() const;

    char *m_data;
    std::atomic<int32_t> &m_length;
    mutable pthread_mutex_t m_lock = PTHREAD_MUTEX_INITIALIZER;
};

// The remote's payload for one reader: at most 4095 unread, never overwritten.
class Ring {
public:
    Ring(std::atomic<int32_t> &write, std::atomic<int32_t> &read, std::atomic<int32_t> &readerWaits, sem_t &wake,
         const char *overflow)
        : m_write(write), m_read(read), m_readerWaits(readerWaits), m_wake(wake), m_overflow(overflow)
    {}

    bool Allocate();
    // A reader blocked on the ring learns that it is gone.
    void Release() { Replace(nullptr); }
    void Reset();
    bool Empty() const { return m_read.load() == m_write.load(); }
    int Unread() const;
    // What finds the ring full is dropped and reported.
    void Put(const char *bytes, int count);
    // What fits, without waiting: the count taken.
    int Offer(const char *bytes, int count);
    // While the ring is full and `mayWait` holds (looked at on each take and
    // Wake), waits for the reader; whether there is room.
    bool WaitForRoom(bool (*mayWait)());
    // Reports bytes dropped for want of room.
    void Overflow() const;
    // Up to `wanted` bytes, blocking while the ring is empty and the stream
    // goes on; -1 once `ended` holds with nothing left (the ring then at 0).
    int Take(char *destination, int wanted, bool (*ended)());
    // The stream has ended: an empty ring is reset (true); a reader is told.
    bool EndOfStream();
    // A waiting reader, and a writer waiting for room, look at their conditions
    // again: call it after changing what they look at.
    void Wake();

private:
    void Replace(char *storage);
    void WakeReaderLocked();
    int StoreLocked(const char *bytes, int count);
    void Rewind() { m_write = m_read = 0; }

    std::atomic<int32_t> &m_write;
    std::atomic<int32_t> &m_read;
    std::atomic<int32_t> &m_readerWaits;
    sem_t &m_wake;
    const char *m_overflow;
    char *m_storage = nullptr;
    pthread_mutex_t m_lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t m_room = PTHREAD_COND_INITIALIZER;
};

// The receive task's life: it waits for the line with a time-out to look at its
// orders (a descriptor closed under a read may be reused).
class Task {
public:
    explicit Task(void *(*body)(void *)) : m_body(body) {}

    // Starts the task unless it runs; the thread's creation code.
    int Start(pthread_t *id, const pthread_attr_t *attributes);
    // Ends and joins it (from the task itself: detaches it); `wake` moves it.
    void Stop(void (*wake)());
    bool Stopping() const { return m_stop.load() != 0; }
    // Around the task's time on the line, under the lock: no park is missed.
    bool OnLine(bool allowed);
    void OffLine();
    // Returns once the task is off the line (at once from the task itself).
    void WaitOffLine();
    // What came within 100 ms, 0 for nothing (a failed read after a pause).
    static int Read(int uart, char *chunk, int size);

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

// Raw line at the speed set: `input` flags, the control flags `keep` leaves
// with `control` added, one byte per read; flushed.  False when not set.
bool ConfigureLine(int uart, tcflag_t input, tcflag_t control, tcflag_t keep);

}  // namespace channel

#endif
