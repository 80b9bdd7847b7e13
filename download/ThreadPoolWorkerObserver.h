#pragma once

template <class T>
class ThreadPoolWorker;

// How a worker asks for work and reports finished work; called on the
// worker's thread.
template <class T>
class ThreadPoolWorkerObserver {
public:
    virtual ~ThreadPoolWorkerObserver() = default;

    // The worker has run `task`.
    virtual void OnTaskCompleted(ThreadPoolWorker<T>* worker, T* task) = 0;
    // Called at the start of every loop turn; the observer hands the worker a
    // task by setting its currentTask.
    virtual void OnWorkerReady(ThreadPoolWorker<T>* worker) = 0;
};
