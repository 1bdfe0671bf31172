// Detached POSIX threads for the engine's workers.
#include "utils/Thread.h"

#include <pthread.h>

namespace _VelmoUpload {

bool StartDetachedThread(ThreadFun threadFun, void* pArguments) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, threadFun, pArguments);
    pthread_attr_destroy(&attr);
    return rc == 0;
}

}  // namespace _VelmoUpload
