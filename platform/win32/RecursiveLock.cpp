#include "platform/RecursiveLock.h"

#include <windows.h>

#include <new>

namespace platform {

// A critical section may be entered again by the thread that holds it.
struct RecursiveLock {
    CRITICAL_SECTION section;
};

RecursiveLock* CreateRecursiveLock() {
    RecursiveLock* lock = new RecursiveLock;
    InitializeCriticalSection(&lock->section);
    return lock;
}

void DestroyRecursiveLock(RecursiveLock* lock) {
    DeleteCriticalSection(&lock->section);
    delete lock;
}

void EnterRecursiveLock(RecursiveLock* lock) { EnterCriticalSection(&lock->section); }

void LeaveRecursiveLock(RecursiveLock* lock) { LeaveCriticalSection(&lock->section); }

}  // namespace platform
