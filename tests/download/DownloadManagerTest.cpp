#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "download/DownloadManager.h"
#include "download/DownloadTestHelpers.h"

using downloadtest::ResultRecorder;
using downloadtest::UpdateUntil;

namespace {

// What the fake tasks of one test did, seen from the worker.
struct Journal {
    std::mutex mutex;
    std::vector<int> runOrder;
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
};

// A task that touches no network: its Run notes itself in the journal, takes
// a while and succeeds. Delete is counted instead of freeing, so the test can
// check how often the last reference went.
class FakeTask : public DownloadTask {
public:
    FakeTask(int id, Journal& journal, int runMilliseconds = 0)
        : id(id), journal(journal), runMilliseconds(runMilliseconds) {}

    void OnStart() override {}
    void OnFinish() override {}
    void OnData(const char*, int) override {}

    void Run() override {
        const int now = ++journal.running;
        int most = journal.mostAtOnce;
        while (now > most && !journal.mostAtOnce.compare_exchange_weak(most, now)) {
        }
        {
            std::lock_guard<std::mutex> guard(journal.mutex);
            journal.runOrder.push_back(id);
        }
        ++runs;
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(runMilliseconds));
        succeeded = true;
        --journal.running;
        ended = true;
    }

    void Delete() override { ++deletes; }

    const int id;
    Journal& journal;
    const int runMilliseconds;
    std::atomic<int> runs{0};
    std::atomic<bool> started{false};
    std::atomic<bool> ended{false};
    int deletes = 0;
};

class DownloadManagerTest : public ::testing::Test {
protected:
    std::unique_ptr<FakeTask> MakeTask(int id, int runMilliseconds = 0) {
        auto task = std::make_unique<FakeTask>(id, journal, runMilliseconds);
        task->AddObserver(&recorder);
        return task;
    }

    Journal journal;
    ResultRecorder<FakeTask> recorder;
    DownloadManager manager;
};

// A manager whose worker thread cannot be started.
class ManagerWithoutThreads : public DownloadManager {
protected:
    bool StartWorkerThread() override { return false; }
};

TEST_F(DownloadManagerTest, UpdateWithNothingFinishedCallsNothing) {
    auto first = MakeTask(1);
    auto second = MakeTask(2);
    manager.AddTask(first.get());
    manager.AddTask(second.get());

    manager.Update();

    EXPECT_TRUE(recorder.results.empty());
    EXPECT_EQ(2, first->GetRefCount());
    EXPECT_EQ(2, second->GetRefCount());
    EXPECT_EQ(DownloadTask::Queued, first->state);
    manager.Shutdown();
}

TEST_F(DownloadManagerTest, UpdateCompletesOnlyFinishedTasksNewestFirst) {
    auto first = MakeTask(1);
    auto second = MakeTask(2);
    auto third = MakeTask(3);
    first->state = DownloadTask::Finished;
    third->state = DownloadTask::Finished;
    manager.AddTask(first.get());
    manager.AddTask(second.get());
    manager.AddTask(third.get());

    manager.Update();

    ASSERT_EQ(2u, recorder.results.size());
    EXPECT_EQ(third.get(), recorder.results[0].first);
    EXPECT_EQ(first.get(), recorder.results[1].first);
    EXPECT_EQ(1, first->GetRefCount());
    EXPECT_EQ(2, second->GetRefCount());
    EXPECT_EQ(1, third->GetRefCount());
    manager.Shutdown();
}

TEST_F(DownloadManagerTest, TaskAddedBeforeStartWorkerRunsOnceStarted) {
    auto task = MakeTask(1);
    manager.AddTask(task.get());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    manager.Update();
    EXPECT_EQ(0, task->runs);

    manager.StartWorker();
    ASSERT_TRUE(UpdateUntil(manager, [&] { return recorder.CountFor(task.get()) > 0; }));

    EXPECT_EQ(1, task->runs);
    EXPECT_EQ(1, recorder.CountFor(task.get()));
    EXPECT_TRUE(recorder.ResultFor(task.get()));
    EXPECT_EQ(1, task->GetRefCount());
    manager.Shutdown();
}

TEST_F(DownloadManagerTest, TasksRunOneAtATimeInTheOrderAdded) {
    manager.StartWorker();
    std::vector<std::unique_ptr<FakeTask>> tasks;
    for (int id = 1; id <= 3; ++id) {
        tasks.push_back(MakeTask(id, 20));
        manager.AddTask(tasks.back().get());
    }

    ASSERT_TRUE(UpdateUntil(manager, [&] { return recorder.results.size() == 3; }));

    EXPECT_EQ((std::vector<int>{1, 2, 3}), journal.runOrder);
    EXPECT_EQ(1, journal.mostAtOnce);
    for (const auto& task : tasks) {
        EXPECT_TRUE(recorder.ResultFor(task.get()));
        EXPECT_EQ(1, task->runs);
    }
    manager.Shutdown();
}

TEST_F(DownloadManagerTest, CancelledQueuedTaskNeverRunsAndCompletesFailed) {
    auto cancelled = MakeTask(1);
    auto normal = MakeTask(2);
    cancelled->cancelled = true;
    manager.AddTask(cancelled.get());
    manager.AddTask(normal.get());

    manager.StartWorker();
    ASSERT_TRUE(UpdateUntil(manager, [&] { return recorder.results.size() == 2; }));

    EXPECT_EQ(0, cancelled->runs);
    EXPECT_FALSE(recorder.ResultFor(cancelled.get()));
    EXPECT_EQ(1, normal->runs);
    EXPECT_TRUE(recorder.ResultFor(normal.get()));
    manager.Shutdown();
}

// Adds another task to the manager the first time it is told a result.
class ChainingObserver : public DownloadTaskObserver<FakeTask> {
public:
    ChainingObserver(DownloadManager& manager, FakeTask& next) : manager(manager), next(next) {}
    void OnDownloadFinished(FakeTask*, bool) override { manager.AddTask(&next); }

    DownloadManager& manager;
    FakeTask& next;
};

TEST_F(DownloadManagerTest, TaskAddedFromCompleteWaitsForTheNextPass) {
    auto first = MakeTask(1);
    auto added = MakeTask(2);
    ChainingObserver chaining(manager, *added);
    first->AddObserver(&chaining);
    first->state = DownloadTask::Finished;
    added->state = DownloadTask::Finished;
    manager.AddTask(first.get());

    manager.Update();
    EXPECT_EQ(1, recorder.CountFor(first.get()));
    EXPECT_EQ(0, recorder.CountFor(added.get()));
    EXPECT_EQ(2, added->GetRefCount());

    manager.Update();
    EXPECT_EQ(1, recorder.CountFor(added.get()));
    EXPECT_EQ(1, added->GetRefCount());
    manager.Shutdown();
}

TEST_F(DownloadManagerTest, ShutdownWaitsForTransferAndCompletesEveryTaskOnce) {
    manager.StartWorker();
    auto running = MakeTask(1, 300);
    auto queued = MakeTask(2);
    manager.AddTask(running.get());
    manager.AddTask(queued.get());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!running->started && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(running->started);

    manager.Shutdown();

    EXPECT_TRUE(running->ended);
    EXPECT_EQ(0, queued->runs);
    EXPECT_EQ(1, recorder.CountFor(running.get()));
    EXPECT_TRUE(recorder.ResultFor(running.get()));
    EXPECT_EQ(1, recorder.CountFor(queued.get()));
    EXPECT_FALSE(recorder.ResultFor(queued.get()));
    EXPECT_EQ(1, running->GetRefCount());
    EXPECT_EQ(1, queued->GetRefCount());
    EXPECT_EQ(0, running->deletes + queued->deletes);

    // After a shutdown the worker can be started again.
    auto later = MakeTask(3);
    manager.AddTask(later.get());
    manager.StartWorker();
    ASSERT_TRUE(UpdateUntil(manager, [&] { return recorder.CountFor(later.get()) > 0; }));
    EXPECT_TRUE(recorder.ResultFor(later.get()));
    manager.Shutdown();
}

TEST_F(DownloadManagerTest, ShutdownCompletesTasksThatCompleteAdds) {
    auto first = MakeTask(1);
    auto added = MakeTask(2);
    ChainingObserver chaining(manager, *added);
    first->AddObserver(&chaining);
    manager.AddTask(first.get());

    manager.Shutdown();

    EXPECT_EQ(1, recorder.CountFor(first.get()));
    EXPECT_EQ(1, recorder.CountFor(added.get()));
    EXPECT_FALSE(recorder.ResultFor(added.get()));
    EXPECT_EQ(1, added->GetRefCount());
}

TEST_F(DownloadManagerTest, LastReleaseDeletesTask) {
    auto task = MakeTask(1);
    task->state = DownloadTask::Finished;
    manager.AddTask(task.get());
    task->Release();
    EXPECT_EQ(0, task->deletes);
    manager.Update();
    EXPECT_EQ(1, task->deletes);
}

TEST(DownloadManagerStartFailureTest, QueuedAndLaterTasksCompleteAsFailed) {
    Journal journal;
    ResultRecorder<FakeTask> recorder;
    ManagerWithoutThreads manager;
    FakeTask before(1, journal);
    FakeTask after(2, journal);
    before.AddObserver(&recorder);
    after.AddObserver(&recorder);

    manager.AddTask(&before);
    manager.StartWorker();
    manager.Update();
    EXPECT_EQ(1, recorder.CountFor(&before));
    EXPECT_FALSE(recorder.ResultFor(&before));

    manager.AddTask(&after);
    manager.Update();
    EXPECT_EQ(1, recorder.CountFor(&after));
    EXPECT_FALSE(recorder.ResultFor(&after));
    EXPECT_EQ(0, before.runs + after.runs);
    EXPECT_EQ(1, before.GetRefCount());
    manager.Shutdown();
}

TEST(DownloadManagerInstanceTest, GetInstanceGivesOneManager) {
    EXPECT_NE(nullptr, DownloadManager::GetInstance());
    EXPECT_EQ(DownloadManager::GetInstance(), DownloadManager::GetInstance());
}

}  // namespace
