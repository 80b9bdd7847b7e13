#include "platform/FileLock.h"

#include "platform/FaultInjection.h"
#include "platform/posix/NativeFolders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {
namespace {

// flock rather than fcntl locks: those would be dropped when any descriptor
// of the file in this process is closed, and they are not shared by threads.
bool LockWaiting(int descriptor) {
    int result;
    do {
        result = flock(descriptor, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

FileLock::~FileLock() { Unlock(); }

bool FileLock::Lock(const char* path, void (*beforeWaiting)()) {
    Unlock();
    Unsupported = false;
    if (path == nullptr) {
        return false;
    }
    const int descriptor =
        FaultInjected(FaultKind::Lock) ? -1 : open(native::PathOf(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        return false;
    }
    bool locked = flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    if (!locked && errno == EWOULDBLOCK) {
        if (beforeWaiting != nullptr) {
            beforeWaiting();
        }
        locked = LockWaiting(descriptor);
    }
    if (!locked) {
        const int error = errno;
        Unsupported = error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS;
        close(descriptor);
        errno = error;
        return false;
    }
    Handle = descriptor;
    return true;
}

void FileLock::Unlock() {
    if (Handle == -1) {
        return;
    }
    // Closing the only descriptor of the file releases the lock.
    close(static_cast<int>(Handle));
    Handle = -1;
}

}  // namespace platform
