#pragma once

namespace platform {
struct ThreadHandle;
}

// A thread that runs the object's Run once.
class Thread {
public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    virtual void Run() = 0;
    // Starts the thread. A failure is not reported here; the object then holds
    // no thread and IsRunning is false.
    virtual void Start();
    // Gives the thread up without waiting for it.
    virtual void Detach();
    // Waits without a time limit for Run to return.
    virtual void Wait();
    // True from a successful start until Run has returned.
    virtual bool IsRunning();

protected:
    platform::ThreadHandle* handle = nullptr;

private:
    static void StartRoutine(void* self);
};
