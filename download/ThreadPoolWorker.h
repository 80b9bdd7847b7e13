#pragma once

#include <atomic>

#include "download/Observee.h"
#include "download/Thread.h"
#include "download/ThreadPoolWorkerObserver.h"
#include "platform/Thread.h"

// Runs tasks one after another on its own thread. Its observers hand it the
// tasks (OnWorkerReady) and learn when each one has run (OnTaskCompleted).
template <class T>
class ThreadPoolWorker : public Thread, public Observee<ThreadPoolWorkerObserver<T>> {
public:
    ThreadPoolWorker() : wakeEvent(platform::CreateAutoResetEvent()) {}
    // Neither stops nor waits for the thread.
    ~ThreadPoolWorker() override { platform::DestroyEvent(wakeEvent); }

    void Start() override {
        stopRequested = false;
        currentTask = nullptr;
        Thread::Start();
    }

    void Run() override {
        if (stopRequested) {
            return;
        }
        do {
            this->NotifyObservers([this](ThreadPoolWorkerObserver<T>* observer) { observer->OnWorkerReady(this); });
            if (currentTask != nullptr) {
                T* task = currentTask;
                task->Run();
                this->NotifyObservers(
                    [this, task](ThreadPoolWorkerObserver<T>* observer) { observer->OnTaskCompleted(this, task); });
                currentTask = nullptr;
                // Wake-ups that came during the task are dropped: the next
                // turn looks for work anyway.
                platform::ResetEvent(wakeEvent);
            } else {
                platform::WaitForEvent(wakeEvent);
            }
        } while (!stopRequested);
    }

    // Set by another thread to end the loop after the current turn.
    std::atomic<bool> stopRequested{false};
    // The task being run, null when idle; only the worker's thread uses it.
    T* currentTask = nullptr;
    platform::Event* wakeEvent;
};
