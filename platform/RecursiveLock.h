#pragma once

namespace platform {

// A re-entrant mutual-exclusion lock (a critical section).
struct RecursiveLock;

RecursiveLock* CreateRecursiveLock();
void DestroyRecursiveLock(RecursiveLock* lock);
void EnterRecursiveLock(RecursiveLock* lock);
void LeaveRecursiveLock(RecursiveLock* lock);

}  // namespace platform
