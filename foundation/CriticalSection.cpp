#include "foundation/CriticalSection.h"

#include "platform/RecursiveLock.h"

CriticalSection::CriticalSection() : Section(platform::CreateRecursiveLock()) {}

CriticalSection::~CriticalSection() {
    platform::DestroyRecursiveLock(Section);
    Section = nullptr;
}

ScopedLock::ScopedLock(CriticalSection& section) : Section(section) {
    platform::EnterRecursiveLock(Section.Section);
    ++Section.EntryCount;
}

ScopedLock::~ScopedLock() {
    --Section.EntryCount;
    platform::LeaveRecursiveLock(Section.Section);
}
