#include "platform/Thread.h"

#include <windows.h>

#include <new>

namespace platform {

namespace {

// What the new thread calls. It belongs to the thread, which may outlive its
// handle, and is freed there.
struct StartRecord {
    void (*routine)(void* parameter);
    void* parameter;
};

DWORD WINAPI ThreadStart(void* argument) {
    const StartRecord start = *static_cast<StartRecord*>(argument);
    delete static_cast<StartRecord*>(argument);
    start.routine(start.parameter);
    return 0;
}

}  // namespace

struct ThreadHandle {
    HANDLE handle;
    DWORD id;
};

// The thread is created suspended and resumed once its handle is stored, so
// that it never runs before its creator knows it.
ThreadHandle* StartThread(void (*routine)(void* parameter), void* parameter) {
    ThreadHandle* thread = new (std::nothrow) ThreadHandle{nullptr, 0};
    StartRecord* start = new (std::nothrow) StartRecord{routine, parameter};
    if (thread == nullptr || start == nullptr) {
        delete thread;
        delete start;
        return nullptr;
    }
    thread->handle = CreateThread(nullptr, 0, ThreadStart, start, CREATE_SUSPENDED, &thread->id);
    if (thread->handle == nullptr) {
        delete start;
        delete thread;
        return nullptr;
    }
    ResumeThread(thread->handle);
    return thread;
}

void WaitForThread(ThreadHandle* thread) {
    // A thread waiting for its own end would wait for ever.
    if (thread->id != GetCurrentThreadId()) {
        WaitForSingleObject(thread->handle, INFINITE);
    }
}

void CloseThread(ThreadHandle* thread) {
    CloseHandle(thread->handle);
    delete thread;
}

// A failed wait counts as running, as only a signalled handle proves the end.
bool IsThreadRunning(const ThreadHandle* thread) { return WaitForSingleObject(thread->handle, 0) != WAIT_OBJECT_0; }

struct Event {
    HANDLE handle;
};

Event* CreateAutoResetEvent() {
    const HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (handle == nullptr) {
        return nullptr;
    }
    return new Event{handle};
}

void DestroyEvent(Event* event) {
    if (event != nullptr) {
        CloseHandle(event->handle);
        delete event;
    }
}

void SetEvent(Event* event) { ::SetEvent(event->handle); }

void ResetEvent(Event* event) { ::ResetEvent(event->handle); }

bool WaitForEvent(Event* event, int timeoutMilliseconds) {
    const DWORD timeout = timeoutMilliseconds < 0 ? INFINITE : static_cast<DWORD>(timeoutMilliseconds);
    return WaitForSingleObject(event->handle, timeout) == WAIT_OBJECT_0;
}

void Sleep(int milliseconds) { ::Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds)); }

}  // namespace platform
