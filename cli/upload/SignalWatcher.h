// SIGINT and SIGTERM, taken by one thread with sigwait instead of a handler, so stopping the
// uploads runs as ordinary code on the main thread.
#pragma once

#include <functional>

namespace velmocli {

class SignalWatcher {
public:
    // Blocks the two signals in the calling thread; call it before any other thread exists,
    // so every thread (the engine's too) inherits the mask.
    static void BlockSignals();

    // Starts the watching thread. onFirst runs on that thread for the first signal; a second
    // signal ends the process at once with status 130.
    static bool Start(std::function<void(int)> onFirst);

    // Readable once a signal has arrived: lets a blocking read (the password prompt) give up.
    static int WakeFd();
};

}  // namespace velmocli
