// Recursive mutex: the thread that holds it may lock it again.
#include "utils/mutex.h"

namespace _VelmoUpload {

Mutex::Mutex() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

Mutex::~Mutex() {
    // waits for a holder on another thread to let go before the mutex disappears
    pthread_mutex_lock(&m_mutex);
    pthread_mutex_unlock(&m_mutex);
    pthread_mutex_destroy(&m_mutex);
}

void Mutex::Lock() {
    pthread_mutex_lock(&m_mutex);
}

void Mutex::Unlock() {
    pthread_mutex_unlock(&m_mutex);
}

}  // namespace _VelmoUpload
