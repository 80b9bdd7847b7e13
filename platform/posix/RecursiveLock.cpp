#include "platform/RecursiveLock.h"

#include <mutex>

namespace platform {

struct RecursiveLock {
    std::recursive_mutex mutex;
};

RecursiveLock* CreateRecursiveLock() { return new RecursiveLock; }

void DestroyRecursiveLock(RecursiveLock* lock) { delete lock; }

void EnterRecursiveLock(RecursiveLock* lock) { lock->mutex.lock(); }

void LeaveRecursiveLock(RecursiveLock* lock) { lock->mutex.unlock(); }

}  // namespace platform
