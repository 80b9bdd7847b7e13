#include "file/RawFileClass.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace {

// Error codes of the Error hook that do not come from the operating system.
constexpr int NoNameError = 2;
constexpr int NotOpenError = 9;

// Positions and sizes are 32-bit: the low 32 bits of the real value, as the
// file services this interface was made for report them.
int LowBits(int64_t value) { return static_cast<int>(static_cast<uint32_t>(value)); }

int ClampToInt(int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX)); }

}  // namespace

RawFileClass::RawFileClass() = default;

RawFileClass::RawFileClass(const char* name) { RawFileClass::SetFileName(name); }

RawFileClass::~RawFileClass() { RawFileClass::Close(); }

const char* RawFileClass::GetFileName() const { return Path; }

const char* RawFileClass::SetFileName(const char* name) {
    // The name may point into Path itself, which is cleared first.
    StringClass newName(name != nullptr ? name : "");
    Close();
    Path = "";
    if (name == nullptr) {
        return nullptr;
    }
    SetWindow(0, -1);
    Path = newName;
    return nullptr;
}

bool RawFileClass::Create() {
    Close();
    if (!Open(WriteOnly)) {
        return false;
    }
    if (HasWindow()) {
        Seek(0, FromStart);
    }
    Close();
    return true;
}

bool RawFileClass::Delete() {
    Close();
    if (Path.IsEmpty()) {
        Error(NoNameError, false, nullptr);
    }
    if (!IsAvailable(false)) {
        return false;
    }
    if (!platform::DeleteFile(Path)) {
        Error(platform::LastErrorNumber(), false, Path);
        return false;
    }
    return true;
}

bool RawFileClass::IsAvailable(bool) {
    if (Path.IsEmpty()) {
        return false;
    }
    if (IsOpen()) {
        return true;
    }
    const platform::FileHandle probe = platform::OpenFile(Path, ReadOnly);
    if (probe == platform::InvalidFileHandle) {
        return false;
    }
    if (!platform::CloseFile(probe)) {
        Error(platform::LastErrorNumber(), false, Path);
    }
    return true;
}

bool RawFileClass::IsOpen() const { return OsHandle != platform::InvalidFileHandle; }

int RawFileClass::Open(const char* name, int rights) {
    SetFileName(name);
    return Open(rights);
}

int RawFileClass::Open(int rights) {
    Close();
    if (Path.IsEmpty()) {
        Error(NoNameError, false, nullptr);
    }
    OpenMode = rights;
    if (rights != ReadWrite && rights != ReadOnly && rights != WriteOnly && rights != WriteNew &&
        rights != ContinueOwn) {
        platform::SetLastErrorNumber(platform::InvalidArgumentError);
        return 0;
    }
    OsHandle = platform::OpenFile(Path, rights);
    WindowPosition = 0;
    if (WindowStart != 0 && HasWindow()) {
        Seek(0, FromStart);
    }
    return IsOpen() ? 1 : 0;
}

int RawFileClass::Read(void* buffer, int count) {
    if (!IsOpen()) {
        if (!Open(ReadOnly)) {
            return 0;
        }
        const int got = Read(buffer, count);
        Close();
        return got;
    }
    if (HasWindow()) {
        count = static_cast<int>(std::min<int64_t>(count, WindowLength - WindowPosition));
    }
    if (count <= 0) {
        return 0;
    }
    const int64_t got = platform::ReadFile(OsHandle, buffer, count);
    if (got < 0) {
        Error(platform::LastErrorNumber(), true, Path);
        RecoverWindowPosition();
        return -1;
    }
    WindowPosition += got;
    return static_cast<int>(got);
}

int RawFileClass::Write(const void* buffer, int count) {
    if (!IsOpen()) {
        if (!Open(WriteOnly)) {
            return 0;
        }
        const int put = Write(buffer, count);
        Close();
        return put;
    }
    if (count <= 0) {
        return 0;
    }
    const int64_t put = platform::WriteFile(OsHandle, buffer, count);
    if (put < 0) {
        Error(platform::LastErrorNumber(), false, Path);
        RecoverWindowPosition();
        return 0;
    }
    WindowPosition += put;
    if (HasWindow() && WindowPosition > WindowLength) {
        WindowLength = ClampToInt(WindowPosition);
    }
    return static_cast<int>(put);
}

int RawFileClass::Seek(int offset, int origin) {
    if (!IsOpen()) {
        Error(NotOpenError, false, Path);
    }
    if (!HasWindow()) {
        const int64_t position = platform::SeekFile(OsHandle, offset, origin);
        if (position < 0) {
            Error(platform::LastErrorNumber(), false, Path);
            return -1;
        }
        return LowBits(position);
    }
    int64_t target = offset;
    if (origin == FromCurrent) {
        target += WindowPosition;
    } else if (origin == FromEnd) {
        target += WindowLength;
    }
    target = std::clamp<int64_t>(target, 0, WindowLength);
    const int64_t position = platform::SeekFile(OsHandle, target + WindowStart, FromStart);
    if (position < 0) {
        Error(platform::LastErrorNumber(), false, Path);
        return -1;
    }
    WindowPosition = position - WindowStart;
    return LowBits(WindowPosition);
}

// A failed transfer may have moved the file by part of its count.
void RawFileClass::RecoverWindowPosition() {
    const int64_t position = platform::SeekFile(OsHandle, 0, FromCurrent);
    WindowPosition = position >= 0 ? position - WindowStart : 0;
}

int RawFileClass::Size() {
    if (HasWindow()) {
        return WindowLength;
    }
    if (!IsOpen()) {
        if (!Open(ReadOnly)) {
            return -1;
        }
        const int size = Size();
        Close();
        return size;
    }
    const int64_t size = platform::FileSize(OsHandle);
    if (size < 0) {
        Error(platform::LastErrorNumber(), false, Path);
        return -1;
    }
    return LowBits(size);
}

void RawFileClass::Close() {
    if (!IsOpen()) {
        return;
    }
    if (!platform::CloseFile(OsHandle)) {
        Error(platform::LastErrorNumber(), false, Path);
    }
    OsHandle = platform::InvalidFileHandle;
}

uint32_t RawFileClass::GetDateTime() { return IsOpen() ? platform::GetFileDosDateTime(OsHandle) : 0; }

bool RawFileClass::SetDateTime(uint32_t value) { return IsOpen() && platform::SetFileDosDateTime(OsHandle, value); }

void RawFileClass::Error(int, bool, const char*) {}

int RawFileClass::GetFileHandle() const { return OsHandle; }

// A window never reaches past the end of what it is cut from: a length of -1
// or one larger than what remains after start means "the rest". A negative
// start cannot move the window before its container's beginning.
void RawFileClass::SetWindow(int start, int length) {
    if (start == 0) {
        WindowStart = 0;
        WindowLength = -1;
        return;
    }
    const int64_t move = std::max(start, 0);
    const int64_t remaining = std::max<int64_t>(static_cast<int64_t>(Size()) - move, 0);
    int64_t newLength = remaining;
    if (length != -1 && length < newLength) {
        newLength = std::max(length, 0);
    }
    WindowStart = ClampToInt(WindowStart + move);
    WindowLength = static_cast<int>(newLength);
    if (IsOpen()) {
        RecoverWindowPosition();
    }
}

bool RawFileClass::HasWindow() const { return WindowLength != -1; }
