#include "file/MemoryFile.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// A memory file has no name, no handle and no window; asking for them is a
// mistake in the calling code, stopped where it happens.
[[noreturn]] void NotSupported(const char* operation) {
    std::fprintf(stderr, "MemoryFile::%s is not supported\n", operation);
    std::abort();
}

}  // namespace

MemoryFile::~MemoryFile() { delete[] Buffer; }

const char* MemoryFile::GetFileName() const { NotSupported("GetFileName"); }

const char* MemoryFile::SetFileName(const char*) { NotSupported("SetFileName"); }

bool MemoryFile::Create() { NotSupported("Create"); }

bool MemoryFile::Delete() { NotSupported("Delete"); }

bool MemoryFile::IsAvailable(bool) { return true; }

bool MemoryFile::IsOpen() const { return true; }

int MemoryFile::Open(int) { NotSupported("Open"); }

int MemoryFile::Open(const char*, int) { NotSupported("Open"); }

int MemoryFile::Read(void* buffer, int count) {
    const int available = std::min(count, Length - Position);
    if (available <= 0) {
        return 0;
    }
    std::memcpy(buffer, Buffer + Position, static_cast<size_t>(available));
    Position += available;
    return available;
}

int MemoryFile::Seek(int offset, int origin) {
    int64_t target = offset;
    if (origin == FromCurrent) {
        target += Position;
    } else if (origin != FromStart) {
        target += Length;
    }
    Position = static_cast<int>(std::clamp<int64_t>(target, 0, Length));
    return Position;
}

int MemoryFile::Size() { return Length; }

// The buffer doubles past the new end so that a download appended in blocks
// is copied only a few times. A write whose end cannot be counted in 32 bits,
// or whose buffer cannot be had, writes nothing.
int MemoryFile::Write(const void* buffer, int count) {
    if (count <= 0) {
        return 0;
    }
    const int64_t end = static_cast<int64_t>(Position) + count;
    if (end > INT_MAX) {
        return 0;
    }
    if (end > Capacity && !Grow(static_cast<int>(std::min<int64_t>(2 * end, INT_MAX)))) {
        return 0;
    }
    Length = std::max(Length, static_cast<int>(end));
    std::memcpy(Buffer + Position, buffer, static_cast<size_t>(count));
    Position = static_cast<int>(end);
    return count;
}

bool MemoryFile::Reserve(int capacity) { return capacity <= Capacity || Grow(capacity); }

bool MemoryFile::Grow(int capacity) {
    unsigned char* grown = new (std::nothrow) unsigned char[static_cast<size_t>(capacity)];
    if (grown == nullptr) {
        return false;
    }
    if (Length > 0) {
        std::memcpy(grown, Buffer, static_cast<size_t>(Length));
    }
    delete[] Buffer;
    Buffer = grown;
    Capacity = capacity;
    return true;
}

void MemoryFile::Close() { NotSupported("Close"); }

void MemoryFile::Error(int, bool, const char*) { NotSupported("Error"); }

void MemoryFile::SetWindow(int, int) { NotSupported("SetWindow"); }

bool MemoryFile::HasWindow() const { return false; }
