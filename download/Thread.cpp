#include "download/Thread.h"

#include "platform/Thread.h"

Thread::~Thread() {
    if (handle != nullptr) {
        platform::CloseThread(handle);
    }
}

void Thread::StartRoutine(void* self) { static_cast<Thread*>(self)->Run(); }

void Thread::Start() {
    // A handle left from an earlier start would otherwise be lost.
    Detach();
    handle = platform::StartThread(StartRoutine, this);
}

void Thread::Detach() {
    if (handle != nullptr) {
        platform::CloseThread(handle);
        handle = nullptr;
    }
}

void Thread::Wait() {
    if (handle != nullptr) {
        platform::WaitForThread(handle);
    }
}

bool Thread::IsRunning() { return handle != nullptr && platform::IsThreadRunning(handle); }
