#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "download/Thread.h"
#include "platform/Thread.h"

namespace {

// A thread body that holds until the test lets it go.
class GatedThread : public Thread {
public:
    void Run() override {
        started = true;
        platform::WaitForEvent(gate, 10000);
        ran = true;
    }

    ~GatedThread() override { platform::DestroyEvent(gate); }

    platform::Event* gate = platform::CreateAutoResetEvent();
    std::atomic<bool> started{false};
    std::atomic<bool> ran{false};
};

template <class Condition>
bool WaitFor(Condition condition, int timeoutMilliseconds = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(DownloadThreadTest, IsRunningOnlyBetweenStartAndTheEndOfRun) {
    GatedThread thread;
    EXPECT_FALSE(thread.IsRunning());

    thread.Start();
    ASSERT_TRUE(WaitFor([&] { return thread.started.load(); }));
    EXPECT_TRUE(thread.IsRunning());

    platform::SetEvent(thread.gate);
    ASSERT_TRUE(WaitFor([&] { return !thread.IsRunning(); }));
    thread.Wait();
    EXPECT_TRUE(thread.ran);
    thread.Detach();
    EXPECT_FALSE(thread.IsRunning());
}

TEST(DownloadThreadTest, WaitReturnsOnlyAfterRunHasReturned) {
    GatedThread thread;
    thread.Start();
    ASSERT_TRUE(WaitFor([&] { return thread.started.load(); }));
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        platform::SetEvent(thread.gate);
    });
    thread.Wait();
    EXPECT_TRUE(thread.ran);
    opener.join();
    thread.Detach();
}

TEST(DownloadThreadTest, WaitAndDetachWithoutThreadDoNothing) {
    GatedThread thread;
    thread.Wait();
    thread.Detach();
    EXPECT_FALSE(thread.IsRunning());
}

TEST(DownloadThreadTest, SignalSentWhileNobodyWaitsStaysPendingForOneWait) {
    platform::Event* event = platform::CreateAutoResetEvent();
    EXPECT_FALSE(platform::WaitForEvent(event, 0));
    platform::SetEvent(event);
    platform::SetEvent(event);
    EXPECT_TRUE(platform::WaitForEvent(event, 0));
    EXPECT_FALSE(platform::WaitForEvent(event, 20));
    platform::DestroyEvent(event);
}

TEST(DownloadThreadTest, ResetDropsPendingSignal) {
    platform::Event* event = platform::CreateAutoResetEvent();
    platform::SetEvent(event);
    platform::ResetEvent(event);
    EXPECT_FALSE(platform::WaitForEvent(event, 20));
    platform::DestroyEvent(event);
}

TEST(DownloadThreadTest, SignalWakesWaitingThread) {
    platform::Event* event = platform::CreateAutoResetEvent();
    std::atomic<bool> woken{false};
    std::thread waiter([&] { woken = platform::WaitForEvent(event, 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::SetEvent(event);
    waiter.join();
    EXPECT_TRUE(woken);
    platform::DestroyEvent(event);
}

}  // namespace
