#include "platform/FileLock.h"

#include "platform/FaultInjection.h"

#include <windows.h>

namespace platform {
namespace {

// The interface keeps the handle as an integer, so it has to become a pointer
// again here.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
HANDLE ToHandle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// One byte at the start stands for the whole file; others may still read
// and write it, as only programs that take the lock are to be kept out.
bool LockFirstByte(HANDLE file, DWORD flags) {
    OVERLAPPED start = {};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, 1, 0, &start) != 0;
}

}  // namespace

FileLock::~FileLock() { Unlock(); }

bool FileLock::Lock(const char* path, void (*beforeWaiting)()) {
    Unlock();
    Unsupported = false;
    if (path == nullptr) {
        return false;
    }
    const HANDLE file = FaultInjected(FaultKind::Lock)
                            ? INVALID_HANDLE_VALUE
                            : CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool locked = LockFirstByte(file, LOCKFILE_FAIL_IMMEDIATELY);
    if (!locked && GetLastError() == ERROR_LOCK_VIOLATION) {
        if (beforeWaiting != nullptr) {
            beforeWaiting();
        }
        locked = LockFirstByte(file, 0);
    }
    if (!locked) {
        const DWORD error = GetLastError();
        Unsupported = error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
        CloseHandle(file);
        SetLastError(error);
        return false;
    }
    Handle = reinterpret_cast<intptr_t>(file);
    return true;
}

void FileLock::Unlock() {
    if (Handle == -1) {
        return;
    }
    // Closing the handle releases its locks.
    CloseHandle(ToHandle(Handle));
    Handle = -1;
}

}  // namespace platform
