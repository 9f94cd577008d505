// The text channel shared by the Bluetooth and GSM units.
#include "internal/API_Channel.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "API_GSM.h"
#include "API_SYS.h"
#include "API_Uart.h"
#include "board.h"
#include "internal/API_Uart.h"

namespace channel {

namespace {

char *Mutable(const char *text) { return const_cast<char *>(text); }

// How long the task waits for the line, and a full ring for the reader,
// before looking at their orders again.
constexpr int kLineWaitMs = 100;
constexpr long kRoomWaitNs = 20 * 1000 * 1000;

}  // namespace

// ---- answers ----

int Answers::Held() const { return std::clamp(m_length.load(), 0, kSize); }

void Answers::Clear()
{
    Guard guard(m_lock);
    memset(m_data, 0, kSize);
    m_end = m_data;
    m_length = 0;
}

void Answers::Append(const char *bytes, int count)
{
    Guard guard(m_lock);
    count = std::min(count, kSize);
    if (count >= kSize - static_cast<int>(m_end - m_data))
        m_end = m_data;
    memcpy(m_end, bytes, static_cast<size_t>(count));
    m_end += count;
    m_length = static_cast<int32_t>(m_end - m_data);
}

void Answers::SetWord(const char *word)
{
    Guard guard(m_lock);
    size_t size = strlen(word) + 1;
    memcpy(m_data, word, size);
    m_end = m_data + size;
    m_length = static_cast<int32_t>(size);
}

char *Answers::Find(const char *text) const
{
    Guard guard(m_lock);
    return MyStrStr(m_data, static_cast<unsigned long>(Held()), Mutable(text));
}

int Answers::ByteAt(const char *position, int offset) const
{
    // Unsigned: a place before the buffer is one far beyond it.
    uintptr_t index = reinterpret_cast<uintptr_t>(position) - reinterpret_cast<uintptr_t>(m_data) +
                      static_cast<uintptr_t>(static_cast<intptr_t>(offset));
    Guard guard(m_lock);
    return index < static_cast<uintptr_t>(Held()) ? static_cast<unsigned char>(m_data[index]) : -1;
}

int Answers::Copy(char *copy, int size) const
{
    Guard guard(m_lock);
    int length = std::min(Held(), size - 1);
    memcpy(copy, m_data, static_cast<size_t>(length));
    copy[length] = '\0';
    return length;
}

Answers::Outcome Answers::Await(const char *text, int seconds, const char *failure, bool sleepFirst) const
{
    if (seconds < 0)
        return kTimeOut;
    long long looks = 10LL * seconds + 1;
    for (long long look = 0; look < looks; ++look) {
        if (seconds != 0 || sleepFirst)
            API_Sleep(100);
        if (Holds(text))
            return kFound;
        if (failure != nullptr && Holds(failure))
            return kFailed;
    }
    return kTimeOut;
}

// ---- ring ----

bool Ring::Allocate()
{
    char *storage = static_cast<char *>(calloc(kSize, 1));
    if (storage == nullptr)
        return false;
    pthread_mutex_lock(&m_lock);
    free(m_storage);
    m_storage = storage;
    m_write = 0;
    m_read = 0;
    pthread_mutex_unlock(&m_lock);
    return true;
}

void Ring::Release()
{
    pthread_mutex_lock(&m_lock);
    free(m_storage);
    m_storage = nullptr;
    m_write = 0;
    m_read = 0;
    WakeReaderLocked();
    pthread_cond_broadcast(&m_room);
    pthread_mutex_unlock(&m_lock);
}

void Ring::Reset(bool zero)
{
    pthread_mutex_lock(&m_lock);
    if (zero && m_storage != nullptr)
        memset(m_storage, 0, kSize);
    m_write = 0;
    m_read = 0;
    pthread_cond_broadcast(&m_room);
    pthread_mutex_unlock(&m_lock);
}

int Ring::Unread() const { return (m_write.load() - m_read.load() + kSize) % kSize; }

void Ring::WakeReaderLocked()
{
    if (m_readerWaits.load() == 1) {
        m_readerWaits = 0;
        sem_post(&m_wake);
    }
}

void Ring::WakeReader()
{
    pthread_mutex_lock(&m_lock);
    WakeReaderLocked();
    pthread_mutex_unlock(&m_lock);
}

void Ring::WakeWriter()
{
    pthread_mutex_lock(&m_lock);
    pthread_cond_broadcast(&m_room);
    pthread_mutex_unlock(&m_lock);
}

void Ring::Put(const char *bytes, int count, const std::function<bool()> &mayWait)
{
    pthread_mutex_lock(&m_lock);
    while (count > 0 && m_storage != nullptr) {
        int take = std::min(count, kSize - 1 - Unread());
        int at = m_write.load();
        int first = std::min(take, kSize - at);
        memcpy(m_storage + at, bytes, static_cast<size_t>(first));
        memcpy(m_storage, bytes + first, static_cast<size_t>(take - first));
        m_write = (at + take) % kSize;
        if (take > 0)
            WakeReaderLocked();
        bytes += take;
        count -= take;
        if (count == 0)
            break;
        if (!mayWait || !mayWait()) {
            printf("%s\n", m_overflow);
            fflush(stdout);
            break;
        }
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += kRoomWaitNs;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        pthread_cond_timedwait(&m_room, &m_lock, &until);
    }
    pthread_mutex_unlock(&m_lock);
}

int Ring::Take(char *destination, int wanted, const std::function<bool()> &ended)
{
    pthread_mutex_lock(&m_lock);
    while (Empty()) {
        if (ended() || m_storage == nullptr) {
            m_write = 0;
            m_read = 0;
            pthread_mutex_unlock(&m_lock);
            return -1;
        }
        m_readerWaits = 1;
        pthread_mutex_unlock(&m_lock);
        WaitSemaphore(&m_wake);
        pthread_mutex_lock(&m_lock);
    }
    int at = m_read.load();
    int taken = std::min(wanted, Unread());
    int first = std::min(taken, kSize - at);
    memcpy(destination, m_storage + at, static_cast<size_t>(first));
    memcpy(destination + first, m_storage, static_cast<size_t>(taken - first));
    m_read = (at + taken) % kSize;
    pthread_cond_broadcast(&m_room);
    bool over = ended();
    if (over && taken == 0) {
        m_readerWaits = 0;
        taken = -1;
    }
    if (over && Empty()) {
        m_write = 0;
        m_read = 0;
    }
    pthread_mutex_unlock(&m_lock);
    return taken;
}

bool Ring::EndOfStream()
{
    pthread_mutex_lock(&m_lock);
    bool drained = Empty();
    if (drained) {
        m_write = 0;
        m_read = 0;
    }
    WakeReaderLocked();
    pthread_mutex_unlock(&m_lock);
    return drained;
}

// ---- task ----

int Task::Start(pthread_t *id, const pthread_attr_t *attributes)
{
    pthread_mutex_lock(&m_lock);
    int result = 0;
    if (!m_running) {
        m_stop = 0;
        result = pthread_create(&m_id, attributes, m_body, nullptr);
        m_running = result == 0;
    }
    if (m_running && id != nullptr)
        *id = m_id;
    pthread_mutex_unlock(&m_lock);
    return result;
}

bool Task::Running()
{
    pthread_mutex_lock(&m_lock);
    bool running = m_running;
    pthread_mutex_unlock(&m_lock);
    return running;
}

void Task::Stop(const std::function<void()> &wake)
{
    pthread_mutex_lock(&m_lock);
    bool running = m_running;
    m_running = false;
    if (running)
        m_stop = 1;
    pthread_mutex_unlock(&m_lock);
    if (!running)
        return;
    if (wake)
        wake();
    if (pthread_equal(pthread_self(), m_id))
        pthread_detach(m_id);
    else
        pthread_join(m_id, nullptr);
}

bool Task::OnLine(bool allowed)
{
    pthread_mutex_lock(&m_lock);
    m_onLine = allowed && m_stop.load() == 0;
    bool on = m_onLine;
    pthread_mutex_unlock(&m_lock);
    return on;
}

void Task::OffLine()
{
    pthread_mutex_lock(&m_lock);
    m_onLine = false;
    pthread_cond_broadcast(&m_changed);
    pthread_mutex_unlock(&m_lock);
}

void Task::WaitOffLine()
{
    pthread_mutex_lock(&m_lock);
    while (m_onLine && !pthread_equal(pthread_self(), m_id))
        pthread_cond_wait(&m_changed, &m_lock);
    pthread_mutex_unlock(&m_lock);
}

bool Task::LineReady(int uart)
{
    pollfd line = {ai_fd[uart], POLLIN, 0};
    return Board_Poll(&line, 1, kLineWaitMs) > 0;
}

// ---- helpers ----

void WaitSemaphore(sem_t *semaphore)
{
    while (sem_wait(semaphore) != 0 && errno == EINTR) {
    }
}

bool SendEscape(int uart, Answers &answers, int guardMs)
{
    API_Sleep(guardMs);
    answers.Clear();
    return API_UartWrite(uart, "+++", 3) == 3;
}

}  // namespace channel
