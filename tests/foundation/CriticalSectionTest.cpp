#include "foundation/CriticalSection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(CriticalSectionTest, HolderMayReenterWhileAnotherThreadWaitsForTheLastGuard) {
    CriticalSection section;
    std::atomic<bool> entered{false};
    std::thread waiter;
    {
        ScopedLock outer(section);
        ScopedLock inner(section);
        waiter = std::thread([&] {
            ScopedLock lock(section);
            entered = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(entered);
        { ScopedLock nested(section); }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(entered);
    }
    waiter.join();
    EXPECT_TRUE(entered);
}

TEST(CriticalSectionTest, GuardedUpdatesFromTwoThreadsAreNeverLost) {
    CriticalSection section;
    long counter = 0;
    int inside = 0;
    bool overlapped = false;
    const auto work = [&] {
        for (int round = 0; round < 100000; ++round) {
            ScopedLock lock(section);
            overlapped = overlapped || ++inside != 1;
            counter = counter + 1;
            --inside;
        }
    };
    std::thread first(work);
    std::thread second(work);
    first.join();
    second.join();
    EXPECT_EQ(counter, 200000);
    EXPECT_FALSE(overlapped);
}

}  // namespace
