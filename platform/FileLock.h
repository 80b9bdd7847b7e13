#pragma once

#include <cstdint>

namespace platform {

// An exclusive advisory lock on a lock file, held from Lock until Unlock or
// the end of the object. The operating system drops it when the process ends,
// however it ends, so a killed program never leaves the file locked. Only
// programs that take the same lock are kept out; the file's contents are
// never used.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens the lock file (created when missing; its folder must exist) and
    // locks it. When another process holds the lock, beforeWaiting (if not
    // null) is called once and the call then waits until the lock is free.
    // False when the file cannot be opened or locked; nothing is held then.
    [[nodiscard]] bool Lock(const char* path, void (*beforeWaiting)());
    void Unlock();
    bool IsLocked() const { return Handle != -1; }
    // True when the last Lock opened the file but its file system cannot lock
    // files at all (some network shares); LastErrorNumber tells the reason of
    // any failed Lock.
    bool LockingUnsupported() const { return Unsupported; }

private:
    intptr_t Handle = -1;
    bool Unsupported = false;
};

}  // namespace platform
