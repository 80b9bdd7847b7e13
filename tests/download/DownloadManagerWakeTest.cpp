#include <gtest/gtest.h>

#include <chrono>

#include "download/DownloadManager.h"

namespace {

// Runs without touching the network and succeeds at once.
class InstantTask : public DownloadTask {
public:
    void OnStart() override {}
    void OnFinish() override {}
    void OnData(const char*, int) override {}
    void Run() override { succeeded = true; }
};

TEST(DownloadManagerWakeTest, WaitEndsWhenTheWorkerHasRunOutOfTasksAndTimesOutWhileItSleeps) {
    DownloadManager manager;
    manager.StartWorker();
    // The worker finds nothing to do as it starts.
    EXPECT_TRUE(manager.WaitForIdleWorker(10000));
    InstantTask* task = new InstantTask;

    const auto start = std::chrono::steady_clock::now();
    manager.AddTask(task);
    EXPECT_TRUE(manager.WaitForIdleWorker(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(task->state, DownloadTask::Finished);
    EXPECT_FALSE(manager.WaitForIdleWorker(20));

    manager.Update();
    task->Release();
    manager.Shutdown();
}

}  // namespace
