#include "download/DownloadManager.h"

#include <algorithm>

#include "download/InternetHandle.h"

namespace {

// A task that never runs fails with this reason.
void FailUnrun(DownloadTask* task) {
    task->SetFailureReason("Could not start the thread that downloads.");
    task->state = DownloadTask::Finished;
}

}  // namespace

DownloadManager* DownloadManager::GetInstance() {
    static DownloadManager instance;
    return &instance;
}

DownloadManager::DownloadManager() : idleEvent(platform::CreateAutoResetEvent()) {
    GetInternetHandle();
    worker.AddObserver(this);
}

// A worker still running here would outlive the object it works for.
DownloadManager::~DownloadManager() {
    if (worker.IsRunning()) {
        StopWorker();
    }
    worker.RemoveObserver(this);
    platform::DestroyEvent(idleEvent);
}

void DownloadManager::StartWorker() {
    if (worker.IsRunning()) {
        return;
    }
    const bool started = StartWorkerThread();
    ScopedLock guard(lock);
    workerFailed = !started;
    if (workerFailed) {
        for (DownloadTask* task : tasks) {
            FailUnrun(task);
        }
    }
}

bool DownloadManager::StartWorkerThread() {
    worker.Start();
    return worker.IsRunning();
}

void DownloadManager::AddTask(DownloadTask* task) {
    ScopedLock guard(lock);
    task->AddRef();
    if (workerFailed) {
        FailUnrun(task);
    }
    tasks.push_back(task);
    platform::SetEvent(worker.wakeEvent);
}

void DownloadManager::Update() {
    ScopedLock guard(lock);
    // Tasks that a Complete adds lie beyond the walked range and wait for the
    // next pass. A completed task's slot is emptied, and the empty slots go
    // at the end.
    for (size_t index = tasks.size(); index-- > 0;) {
        DownloadTask* task = tasks[index];
        if (task->state != DownloadTask::Finished) {
            continue;
        }
        task->Complete();
        task->Release();
        tasks[index] = nullptr;
    }
    tasks.erase(std::remove(tasks.begin(), tasks.end(), nullptr), tasks.end());
}

void DownloadManager::Shutdown() {
    StopWorker();
    ScopedLock guard(lock);
    // A Complete may queue further tasks; they are completed here as well
    // rather than dropped with their reference.
    while (!tasks.empty()) {
        DownloadTask* task = tasks.back();
        tasks.pop_back();
        task->Complete();
        task->Release();
    }
}

void DownloadManager::StopWorker() {
    worker.stopRequested = true;
    platform::SetEvent(worker.wakeEvent);
    worker.Wait();
    worker.Detach();
}

void DownloadManager::OnTaskCompleted(ThreadPoolWorker<DownloadTask>*, DownloadTask* task) {
    task->state = DownloadTask::Finished;
}

bool DownloadManager::WaitForIdleWorker(int timeoutMilliseconds) {
    return platform::WaitForEvent(idleEvent, timeoutMilliseconds);
}

void DownloadManager::OnWorkerReady(ThreadPoolWorker<DownloadTask>* readyWorker) {
    ScopedLock guard(lock);
    for (DownloadTask* task : tasks) {
        if (task->state != DownloadTask::Queued) {
            continue;
        }
        if (task->cancelled) {
            task->state = DownloadTask::Finished;
            continue;
        }
        task->state = DownloadTask::Running;
        readyWorker->currentTask = task;
        return;
    }
    platform::SetEvent(idleEvent);
}
