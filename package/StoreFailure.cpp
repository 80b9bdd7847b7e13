#include "package/StoreFailure.h"

#include "foundation/CriticalSection.h"
#include "platform/FileSystem.h"

namespace {

CriticalSection& NoteLock() {
    static CriticalSection lock;
    return lock;
}

StringClass& Kept() {
    static StringClass kept;
    return kept;
}

}  // namespace

bool NoteStoreFailure(const StringClass& action) {
    const int error = platform::LastErrorNumber();
    ScopedLock guard(NoteLock());
    Kept() = FormatString("Could not %s: %s.", action.Peek(), platform::DescribeError(error).c_str());
    platform::SetLastErrorNumber(error);
    return false;
}

StringClass QuotedPath(const char* path) { return FormatString("'%s'", platform::NativePathText(path).c_str()); }

StringClass DescribeStoreFailure() {
    ScopedLock guard(NoteLock());
    return Kept();
}

void ForgetStoreFailure() {
    ScopedLock guard(NoteLock());
    Kept() = StringClass();
}
