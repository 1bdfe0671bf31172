// The sigwait thread: the first signal is handed on, a second one means "quit now".
#include "SignalWatcher.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "utils/NamedThread.h"

namespace velmocli {

namespace {

int g_wakePipe[2] = {-1, -1};

sigset_t WatchedSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void* WatchThread(void* pArgument) {
    std::function<void(int)>* pOnFirst = static_cast<std::function<void(int)>*>(pArgument);
    sigset_t set = WatchedSet();
    int nSeen = 0;
    for (;;) {
        int nSignal = 0;
        if (sigwait(&set, &nSignal) != 0)
            continue;
        if (++nSeen == 1) {
            char c = 1;
            ssize_t n = write(g_wakePipe[1], &c, 1);
            (void)n;  // a full pipe already reads as woken
            (*pOnFirst)(nSignal);
            continue;
        }
        // the user gave up waiting for the stop: records not yet written stay as they were
        const char kMsg[] = "\nvelmoupload-cli: interrupted again, quitting now\n";
        ssize_t n = write(STDERR_FILENO, kMsg, sizeof(kMsg) - 1);
        (void)n;
        _exit(130);
    }
    return nullptr;
}

}  // namespace

void SignalWatcher::BlockSignals() {
    sigset_t set = WatchedSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // a closed output pipe must not kill the process before the uploads are stopped
    signal(SIGPIPE, SIG_IGN);
}

bool SignalWatcher::Start(std::function<void(int)> onFirst) {
    if (pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    // lives as long as the process: the thread never ends
    std::function<void(int)>* pOnFirst = new std::function<void(int)>(std::move(onFirst));
    if (!_VelmoUpload::StartDetachedThread("velmo-signals",
                                           [pOnFirst] { WatchThread(pOnFirst); })) {
        delete pOnFirst;
        return false;
    }
    return true;
}

int SignalWatcher::WakeFd() {
    return g_wakePipe[0];
}

}  // namespace velmocli
