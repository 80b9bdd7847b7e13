#pragma once

namespace platform {

// A thread of this process. The handle stays valid until CloseThread, also
// after the thread has ended.
struct ThreadHandle;

// Starts a thread that calls routine(parameter) once; null when the system
// could not create it.
ThreadHandle* StartThread(void (*routine)(void* parameter), void* parameter);
// Waits without a time limit until the thread's routine has returned.
void WaitForThread(ThreadHandle* thread);
// Gives the handle up without waiting; a thread still running goes on alone.
void CloseThread(ThreadHandle* thread);
// True from a successful start until the routine has returned.
bool IsThreadRunning(const ThreadHandle* thread);

// An auto-reset event: a signal sent while nobody waits stays pending until
// the next wait, which consumes it.
struct Event;

Event* CreateAutoResetEvent();
void DestroyEvent(Event* event);
void SetEvent(Event* event);
void ResetEvent(Event* event);
// A negative timeout waits without a limit; false when the time ran out.
bool WaitForEvent(Event* event, int timeoutMilliseconds = -1);

void Sleep(int milliseconds);

}  // namespace platform
