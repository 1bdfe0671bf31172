// The recursive mutex and the event: re-entry, exclusion and signal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "WaitFor.h"
#include "utils/Event.h"
#include "utils/mutex.h"

using _VelmoUpload::Event;
using _VelmoUpload::Mutex;
using _VelmoUpload::MutexLocker;
using namespace std::chrono;

namespace {

TEST(SyncTest, MutexIsRecursiveAndExcludesOtherThreads) {
    Mutex mutex;
    std::atomic<bool> bOtherHasIt{false};
    mutex.Lock();
    mutex.Lock();  // the holder may take it again
    std::thread other([&] {
        MutexLocker guard(mutex);
        bOtherHasIt = true;
    });
    mutex.Unlock();
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_FALSE(bOtherHasIt) << "one Unlock of two must not release the mutex";
    mutex.Unlock();
    other.join();

    long long nCounter = 0;  // guarded by mutex
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                MutexLocker outer(mutex);
                MutexLocker inner(mutex);
                ++nCounter;
            }
        });
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(80000, nCounter);
}

TEST(SyncTest, EventWakesAWaiter) {
    Event event;
    std::atomic<bool> bWoken{false};
    std::thread waiter([&] {
        event.Wait(60000);
        event.Reset();
        bWoken = true;
    });
    // a Set that finds nobody waiting is lost, so keep signalling until the waiter is out
    EXPECT_TRUE(velmotest::waitFor(
        [&] {
            event.Set();
            return bWoken.load();
        },
        seconds(10)));
    waiter.join();
}

TEST(SyncTest, EventWaitReturnsHoldingItsLockUntilReset) {
    Event event;
    event.Wait(0);
    std::atomic<bool> bOtherReturned{false};
    std::thread other([&] {
        event.Wait(0);
        event.Reset();
        bOtherReturned = true;
    });
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_FALSE(bOtherReturned);
    event.Reset();
    EXPECT_TRUE(velmotest::waitFor([&] { return bOtherReturned.load(); }, seconds(5)));
    other.join();
}

}  // namespace
