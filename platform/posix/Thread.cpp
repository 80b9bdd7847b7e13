#include "platform/Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace platform {

namespace {

// Shared between the handle and the thread, so that a thread left running
// after CloseThread never writes into freed memory.
struct ThreadState {
    std::atomic<bool> finished{false};
};

}  // namespace

struct ThreadHandle {
    std::thread thread;
    std::shared_ptr<ThreadState> state;
};

ThreadHandle* StartThread(void (*routine)(void* parameter), void* parameter) {
    ThreadHandle* handle = new (std::nothrow) ThreadHandle;
    if (handle == nullptr) {
        return nullptr;
    }
    try {
        handle->state = std::make_shared<ThreadState>();
        handle->thread = std::thread([routine, parameter, state = handle->state] {
            routine(parameter);
            state->finished = true;
        });
    } catch (const std::exception&) {
        // std::system_error when the system refuses the thread, bad_alloc for the state.
        delete handle;
        return nullptr;
    }
    return handle;
}

void WaitForThread(ThreadHandle* thread) {
    // A thread cannot wait for itself; joining would throw.
    if (thread->thread.joinable() && thread->thread.get_id() != std::this_thread::get_id()) {
        thread->thread.join();
    }
}

void CloseThread(ThreadHandle* thread) {
    if (thread->thread.joinable()) {
        thread->thread.detach();
    }
    delete thread;
}

bool IsThreadRunning(const ThreadHandle* thread) { return !thread->state->finished; }

struct Event {
    std::mutex mutex;
    std::condition_variable signalled;
    bool pending = false;
};

Event* CreateAutoResetEvent() { return new Event; }

void DestroyEvent(Event* event) { delete event; }

void SetEvent(Event* event) {
    {
        std::lock_guard<std::mutex> guard(event->mutex);
        event->pending = true;
    }
    event->signalled.notify_one();
}

void ResetEvent(Event* event) {
    std::lock_guard<std::mutex> guard(event->mutex);
    event->pending = false;
}

bool WaitForEvent(Event* event, int timeoutMilliseconds) {
    std::unique_lock<std::mutex> guard(event->mutex);
    const auto isPending = [event] { return event->pending; };
    if (timeoutMilliseconds < 0) {
        event->signalled.wait(guard, isPending);
    } else if (!event->signalled.wait_for(guard, std::chrono::milliseconds(timeoutMilliseconds), isPending)) {
        return false;
    }
    event->pending = false;
    return true;
}

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace platform
