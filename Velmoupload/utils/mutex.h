// The engine's one lock type: a recursive POSIX mutex, paired by hand or through MutexLocker.
#pragma once

#include <pthread.h>

namespace _VelmoUpload {

class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock();
    void Unlock();

private:
    pthread_mutex_t m_mutex;
};

// Scope guard for the places where an early return would otherwise leak a Lock.
class MutexLocker {
public:
    explicit MutexLocker(Mutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
    ~MutexLocker() { m_mutex.Unlock(); }
    MutexLocker(const MutexLocker&) = delete;
    MutexLocker& operator=(const MutexLocker&) = delete;

private:
    Mutex& m_mutex;
};

}  // namespace _VelmoUpload
