// Event: a condition variable with a whole-second deadline.
#include "utils/Event.h"

#include <ctime>

namespace _VelmoUpload {

Event::Event() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_lock, &attr);
    pthread_mutexattr_destroy(&attr);
    pthread_cond_init(&m_ready, nullptr);
}

Event::~Event() {
    pthread_cond_destroy(&m_ready);
    pthread_mutex_destroy(&m_lock);
}

void Event::Set() {
    pthread_cond_signal(&m_ready);
}

void Event::Wait(int dwTime) {
    // the millisecond remainder is dropped: a wait below one second ends at once
    struct timespec deadline;
    deadline.tv_sec = time(nullptr) + dwTime / 1000;
    deadline.tv_nsec = 0;
    pthread_mutex_lock(&m_lock);
    pthread_cond_timedwait(&m_ready, &m_lock, &deadline);
}

void Event::Reset() {
    pthread_mutex_unlock(&m_lock);
}

}  // namespace _VelmoUpload
