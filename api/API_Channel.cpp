// The text channel shared by the Bluetooth and GSM units.
#include "internal/API_Channel.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_SYS.h"
#include "API_Uart.h"
#include "board.h"
#include "internal/API_Uart.h"

namespace channel {

namespace {

// How long the task waits for the line before looking at its orders again.
constexpr int kLineWaitMs = 100;

struct Locked {
    explicit Locked(pthread_mutex_t &lock) : m(lock) { pthread_mutex_lock(&m); }
    ~Locked() { pthread_mutex_unlock(&m); }
    pthread_mutex_t &m;
};

}  // namespace

char *Find(const char *data, int count, const char *text)
{
    return MyStrStr(const_cast<char *>(data), static_cast<unsigned long>(count), const_cast<char *>(text));
}

int Answers::Held() const { return std::clamp(m_length.load(), 0, kSize); }

void Answers::Clear()
{
    Locked locked(m_lock);
    memset(m_data, 0, kSize);
    m_length = 0;
}

void Answers::Append(const char *bytes, int count)
{
    Locked locked(m_lock);
    count = std::min(count, kSize);
    int at = count < kSize - Held() ? Held() : 0;
    memcpy(m_data + at, bytes, static_cast<size_t>(count));
    m_length = at + count;
}

char *Answers::Find(const char *text) const
{
    Locked locked(m_lock);
    return channel::Find(m_data, Held(), text);
}

int Answers::ByteAt(const char *position, int offset) const
{
    // Unsigned: a place before the buffer (or none) is one far beyond it.
    uintptr_t index = reinterpret_cast<uintptr_t>(position) - reinterpret_cast<uintptr_t>(m_data) +
                      static_cast<uintptr_t>(static_cast<intptr_t>(offset));
    Locked locked(m_lock);
    return index < static_cast<uintptr_t>(Held()) ? static_cast<unsigned char>(m_data[index]) : -1;
}

int Answers::Copy(char *copy, int size) const
{
    Locked locked(m_lock);
    int length = std::min(Held(), size - 1);
    memcpy(copy, m_data, static_cast<size_t>(length));
    copy[length] = '\0';
    return length;
}

int Answers::Wait(const char *text, int seconds, const char *failure, bool sleepFirst) const
{
    for (int look = 0; look <= 10 * seconds; ++look) {
        if (seconds != 0 || sleepFirst)
            API_Sleep(100);
        if (Holds(text))
            return API_ERR_NONE;
        if (failure != nullptr && Holds(failure))
            return API_ERR_GSM_ACK;
    }
    return API_ERR_TIME_OUT;
}

bool Ring::Allocate()
{
    char *storage = static_cast<char *>(malloc(kSize));
    if (storage != nullptr)
        Replace(storage);
    return storage != nullptr;
}

void Ring::Replace(char *storage)
{
    Locked locked(m_lock);
    free(m_storage);
    m_storage = storage;
    Rewind();
    WakeReaderLocked();
    pthread_cond_broadcast(&m_room);
}

void Ring::Reset()
{
    Locked locked(m_lock);
    Rewind();
    pthread_cond_broadcast(&m_room);
}

int Ring::Unread() const { return (m_write.load() - m_read.load() + kSize) % kSize; }

void Ring::WakeReaderLocked()
{
    if (m_readerWaits.exchange(0) == 1)
        sem_post(&m_wake);
}

void Ring::Wake()
{
    Locked locked(m_lock);
    WakeReaderLocked();
    pthread_cond_broadcast(&m_room);
}

int Ring::StoreLocked(const char *bytes, int count)
{
    int take = std::min(count, kSize - 1 - Unread());
    int at = m_write.load();
    int first = std::min(take, kSize - at);
    memcpy(m_storage + at, bytes, static_cast<size_t>(first));
    memcpy(m_storage, bytes + first, static_cast<size_t>(take - first));
    m_write = (at + take) % kSize;
    if (take > 0)
        WakeReaderLocked();
    return take;
}

int Ring::Offer(const char *bytes, int count)
{
    Locked locked(m_lock);
    // Without storage there is nobody to keep the bytes for.
    return m_storage != nullptr ? StoreLocked(bytes, count) : count;
}

void Ring::Put(const char *bytes, int count)
{
    if (Offer(bytes, count) < count)
        Overflow();
}

bool Ring::WaitForRoom(bool (*mayWait)())
{
    Locked locked(m_lock);
    while (m_storage != nullptr && Unread() == kSize - 1 && mayWait())
        pthread_cond_wait(&m_room, &m_lock);
    return m_storage != nullptr && Unread() < kSize - 1;
}

void Ring::Overflow() const
{
    printf("%s\n", m_overflow);
    fflush(stdout);
}

int Ring::Take(char *destination, int wanted, bool (*ended)())
{
    Locked locked(m_lock);
    while (Empty()) {
        if (ended() || m_storage == nullptr) {
            Rewind();
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
    // A read of no bytes may come with no buffer at all.
    if (taken > 0) {
        memcpy(destination, m_storage + at, static_cast<size_t>(first));
        memcpy(destination + first, m_storage, static_cast<size_t>(taken - first));
    }
    m_read = (at + taken) % kSize;
    pthread_cond_broadcast(&m_room);
    // A read of nothing from an ended stream ends it as an empty ring would.
    bool over = ended() && (taken == 0 || Empty());
    if (over)
        Rewind();
    return over && taken == 0 ? -1 : taken;
}

bool Ring::EndOfStream()
{
    Locked locked(m_lock);
    bool drained = Empty();
    if (drained)
        Rewind();
    WakeReaderLocked();
    return drained;
}

int Task::Start(pthread_t *id, const pthread_attr_t *attributes)
{
    Locked locked(m_lock);
    int result = 0;
    if (!m_running) {
        m_stop = 0;
        result = pthread_create(&m_id, attributes, m_body, nullptr);
        m_running = result == 0;
    }
    if (m_running)
        *id = m_id;
    return result;
}

void Task::Stop(void (*wake)())
{
    {
        Locked locked(m_lock);
        if (!m_running)
            return;
        m_running = false;
        m_stop = 1;
    }
    wake();
    if (pthread_equal(pthread_self(), m_id))
        pthread_detach(m_id);
    else
        pthread_join(m_id, nullptr);
}

bool Task::OnLine(bool allowed)
{
    Locked locked(m_lock);
    m_onLine = allowed && m_stop.load() == 0;
    return m_onLine;
}

void Task::OffLine()
{
    Locked locked(m_lock);
    m_onLine = false;
    pthread_cond_broadcast(&m_changed);
}

void Task::WaitOffLine()
{
    Locked locked(m_lock);
    while (m_onLine && !pthread_equal(pthread_self(), m_id))
        pthread_cond_wait(&m_changed, &m_lock);
}

int Task::Read(int uart, char *chunk, int size)
{
    pollfd line = {ai_fd[uart], POLLIN, 0};
    if (Board_Poll(&line, 1, kLineWaitMs) <= 0)
        return 0;
    int count = API_UartRead(uart, chunk, size);
    if (count > 0)
        return count;
    API_Sleep(100);  // a line that keeps failing, or hangs up, must not make the task spin
    return 0;
}

void WaitSemaphore(sem_t *semaphore)
{
    while (sem_wait(semaphore) != 0 && errno == EINTR) {
    }
}

bool ConfigureLine(int uart, tcflag_t input, tcflag_t control, tcflag_t keep)
{
    int fd = ai_fd[uart];
    termios settings;
    if (fd <= 0 || tcgetattr(fd, &settings) != 0)
        return false;
    settings.c_iflag = input;
    settings.c_oflag = 0;
    settings.c_cflag = (settings.c_cflag & keep) | control;
    settings.c_lflag = NOFLSH;
    memset(settings.c_cc, 0, sizeof settings.c_cc);
    settings.c_cc[VMIN] = 1;
    bool set = tcsetattr(fd, TCSANOW, &settings) == 0;
    tcflush(fd, TCIOFLUSH);
    return set;
}

}  // namespace channel
