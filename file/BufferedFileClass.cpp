#include "file/BufferedFileClass.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

BufferedFileClass::BufferedFileClass() = default;

BufferedFileClass::BufferedFileClass(const char* name) : RawFileClass(name) {}

BufferedFileClass::~BufferedFileClass() { DropCache(); }

namespace {

// The bytes handed out from the buffer, then what the file gave. A failed
// read after buffered bytes gives those: the next read meets the failure.
int Joined(int copied, int got) {
    if (got < 0) {
        return copied > 0 ? copied : -1;
    }
    return copied + got;
}

}  // namespace

void BufferedFileClass::DropCache() {
    delete[] Cache;
    Cache = nullptr;
    CacheSize = 0;
    CacheFill = 0;
    CachePos = 0;
}

int BufferedFileClass::Read(void* buffer, int count) {
    // The implicit open of a closed file closes it again, which would drop the
    // buffer in the middle of this call; let the raw read do the open and come
    // back here with the file open.
    if (!IsOpen()) {
        return RawFileClass::Read(buffer, count);
    }
    if (count <= 0) {
        return 0;
    }
    unsigned char* target = static_cast<unsigned char*>(buffer);
    int copied = 0;
    if (CacheFill > 0) {
        copied = std::min(count, CacheFill);
        std::memcpy(target, Cache + CachePos, static_cast<size_t>(copied));
        CachePos += copied;
        CacheFill -= copied;
        count -= copied;
    }
    if (count == 0) {
        return copied;
    }
    if (count > (Cache != nullptr ? CacheSize : BufferSize)) {
        return Joined(copied, RawFileClass::Read(target + copied, count));
    }
    if (Cache == nullptr) {
        Cache = new unsigned char[BufferSize];
        CacheSize = BufferSize;
        CacheFill = 0;
        CachePos = 0;
    }
    if (CacheFill == 0) {
        const int filled = RawFileClass::Read(Cache, CacheSize);
        CacheFill = std::max(filled, 0);
        CachePos = 0;
        if (filled <= 0) {
            return Joined(copied, filled);
        }
    }
    const int more = std::min(count, CacheFill);
    std::memcpy(target + copied, Cache + CachePos, static_cast<size_t>(more));
    CachePos += more;
    CacheFill -= more;
    return copied + more;
}

int BufferedFileClass::Seek(int offset, int origin) {
    if (origin != FromCurrent || offset < 0) {
        // The file itself stands CacheFill bytes ahead of the reader; a move
        // relative to the reader's position must count from there.
        if (origin == FromCurrent) {
            offset = static_cast<int>(std::max<int64_t>(static_cast<int64_t>(offset) - CacheFill, INT_MIN));
        }
        DropCache();
    }
    if (CacheFill == 0) {
        return RawFileClass::Seek(offset, origin);
    }
    const int consumed = std::min(offset, CacheFill);
    CachePos += consumed;
    CacheFill -= consumed;
    const int position = RawFileClass::Seek(offset - consumed, FromCurrent);
    return position < 0 ? position : position - CacheFill;
}

int BufferedFileClass::Write(const void* buffer, int count) {
    // Written bytes belong at the reader's position, not at the end of the
    // read-ahead, and what was read ahead would be stale afterwards.
    if (CacheFill > 0) {
        const int readAhead = CacheFill;
        DropCache();
        RawFileClass::Seek(-readAhead, FromCurrent);
    }
    return RawFileClass::Write(buffer, count);
}

void BufferedFileClass::Close() {
    RawFileClass::Close();
    DropCache();
}
