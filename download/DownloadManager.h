#pragma once

#include <vector>

#include "download/DownloadTask.h"
#include "download/ThreadPoolWorker.h"
#include "download/ThreadPoolWorkerObserver.h"
#include "foundation/CriticalSection.h"

// The process-wide scheduler of download tasks: one worker thread runs the
// transfers one at a time in the order added; the thread that calls Update
// completes finished tasks, so task observers never run on the worker.
class DownloadManager : public ThreadPoolWorkerObserver<DownloadTask> {
public:
    static DownloadManager* GetInstance();

    DownloadManager();
    ~DownloadManager() override;
    DownloadManager(const DownloadManager&) = delete;
    DownloadManager& operator=(const DownloadManager&) = delete;

    // Starts the worker. Should that fail, every queued task, and every task
    // added later, is finished without running, so that it completes as failed.
    void StartWorker();
    // Queues a task (taking a reference) and wakes the worker. Any thread.
    void AddTask(DownloadTask* task);
    // Completes and drops the finished tasks, newest first.
    void Update();
    // Stops the worker, waiting for a transfer in progress, then completes and
    // drops every remaining task.
    void Shutdown();
    // Waits until the worker has run out of queued tasks or the time is up,
    // whichever comes first, so that a poller can complete what has finished
    // (and queue what follows from it) without delay; false when the time ran
    // out.
    bool WaitForIdleWorker(int timeoutMilliseconds);

    void OnTaskCompleted(ThreadPoolWorker<DownloadTask>* worker, DownloadTask* task) override;
    void OnWorkerReady(ThreadPoolWorker<DownloadTask>* worker) override;

protected:
    // Starts the worker's thread; true when it runs. Tests replace it to see
    // what a failed start leads to.
    virtual bool StartWorkerThread();

private:
    void StopWorker();

    CriticalSection lock;
    // In the order added. Finished tasks leave it in one pass per Update, so
    // that a queue of many tasks is not shifted once for each.
    std::vector<DownloadTask*> tasks;
    ThreadPoolWorker<DownloadTask> worker;
    bool workerFailed = false;
    // Auto-reset; raised on the worker each time it finds no queued task.
    platform::Event* idleEvent;
};
