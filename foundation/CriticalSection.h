#pragma once

namespace platform {
struct RecursiveLock;
}

// A re-entrant lock: the thread that holds it may take it again.
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

private:
    friend class ScopedLock;
    platform::RecursiveLock* Section;
    int EntryCount = 0;  // guards holding the lock; bookkeeping only
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& section);
    ~ScopedLock();
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& Section;
};
