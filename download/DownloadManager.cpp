#include "download/DownloadManager.h"

#include "download/InternetHandle.h"

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
        for (int index = 0; index < tasks.Count(); ++index) {
            tasks[index]->state = DownloadTask::Finished;
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
        task->state = DownloadTask::Finished;
    }
    tasks.Add(task);
    platform::SetEvent(worker.wakeEvent);
}

void DownloadManager::Update() {
    ScopedLock guard(lock);
    // Tasks that a Complete adds lie beyond the walked range and wait for the
    // next pass.
    for (int index = tasks.Count() - 1; index >= 0; --index) {
        DownloadTask* task = tasks[index];
        if (task->state != DownloadTask::Finished) {
            continue;
        }
        task->Complete();
        task->Release();
        tasks.Delete(index);
    }
}

void DownloadManager::Shutdown() {
    StopWorker();
    ScopedLock guard(lock);
    // A Complete may queue further tasks; they are completed here as well
    // rather than dropped with their reference.
    while (tasks.Count() > 0) {
        const int last = tasks.Count() - 1;
        DownloadTask* task = tasks[last];
        tasks.Delete(last);
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
    for (int index = 0; index < tasks.Count(); ++index) {
        DownloadTask* task = tasks[index];
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
