#ifndef API_LOCK_H
#define API_LOCK_H

#include <pthread.h>

// A unit's mutex held for a scope. Plain pthread mutexes throughout the API:
// std::mutex reports a failed lock with an exception, which would take
// libstdc++ into the static tool.
class ScopedLock {
public:
    explicit ScopedLock(pthread_mutex_t &mutex) : m_mutex(mutex) { pthread_mutex_lock(&m_mutex); }
    ~ScopedLock() { pthread_mutex_unlock(&m_mutex); }
    ScopedLock(const ScopedLock &) = delete;
    ScopedLock &operator=(const ScopedLock &) = delete;

private:
    pthread_mutex_t &m_mutex;
};

#endif
