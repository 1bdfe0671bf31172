// A signal on a condition variable. It keeps no flag: a Set that finds nobody waiting is lost.
#pragma once

#include <pthread.h>

namespace _VelmoUpload {

class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Wakes one waiting thread; does not take m_lock.
    void Set();
    // Waits for Set or for now + dwTime/1000 whole seconds; returns holding m_lock.
    void Wait(int dwTime);
    // Releases m_lock after a Wait.
    void Reset();

private:
    pthread_cond_t m_ready;
    pthread_mutex_t m_lock;  // guards nothing but the wait on m_ready
};

}  // namespace _VelmoUpload
