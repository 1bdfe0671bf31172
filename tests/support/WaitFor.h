// Polls a condition instead of sleeping for a fixed time: tests stay fast when things
// go right and fail with a clear time-out when they do not.
#pragma once

#include <chrono>
#include <thread>

namespace velmotest {

template <typename Predicate>
bool waitFor(Predicate predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (predicate())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return predicate();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace velmotest
