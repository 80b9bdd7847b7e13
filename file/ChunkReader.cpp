#include "file/ChunkReader.h"

#include <algorithm>
#include <climits>

#include "file/FileClass.h"
#include "foundation/StringClass.h"

namespace {

constexpr uint32_t PayloadMask = 0x7FFFFFFFu;
constexpr int HeaderSize = 8;

uint32_t DecodeWord(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// Bytes of a chunk not read yet; negative when a sub-chunk claimed more than
// its parent holds.
int64_t Unread(uint32_t length, int consumed) { return static_cast<int64_t>(length) - consumed; }

}  // namespace

ChunkReader::ChunkReader(FileClass* file) : File(file) {}

uint32_t ChunkReader::CurrentChunkId() const { return Depth > 0 ? Headers[Depth - 1].id : 0; }

uint32_t ChunkReader::CurrentChunkLength() const { return Depth > 0 ? Headers[Depth - 1].size & PayloadMask : 0; }

// A sub-chunk must fit in what is left of its parent: a header that does not
// is not read, and a size that claims more is cut to the parent's end. So a
// damaged size cannot make the reader wander past the parent into the chunks
// that follow it, which in the index are other packages.
bool ChunkReader::OpenChunk() {
    if (Depth >= MaxDepth || (Depth > 0 && Unread(CurrentChunkLength(), Consumed[Depth - 1]) < HeaderSize)) {
        return false;
    }
    unsigned char bytes[HeaderSize];
    if (File->Read(bytes, HeaderSize) != HeaderSize) {
        return false;
    }
    Header header = {DecodeWord(bytes), DecodeWord(bytes + 4)};
    if (Depth > 0) {
        const int64_t room = Unread(CurrentChunkLength(), Consumed[Depth - 1]) - HeaderSize;
        if ((header.size & PayloadMask) > room) {
            header.size = (header.size & ~PayloadMask) | static_cast<uint32_t>(room);
        }
    }
    Headers[Depth] = header;
    Consumed[Depth] = 0;
    ++Depth;
    return true;
}

int ChunkReader::Read(void* buffer, int count) {
    if (Depth == 0 || count <= 0 || Unread(CurrentChunkLength(), Consumed[Depth - 1]) < count) {
        return 0;
    }
    const int got = File->Read(buffer, count);
    if (got == count) {
        Consumed[Depth - 1] += count;
    }
    return std::max(got, 0);
}

void ChunkReader::ReadString(StringClass& text) {
    text = "";
    unsigned char lengthBytes[2];
    if (Read(lengthBytes, 2) != 2) {
        return;
    }
    const int length = lengthBytes[0] | (lengthBytes[1] << 8);
    if (length == 0 || Unread(CurrentChunkLength(), Consumed[Depth - 1]) < length) {
        return;
    }
    char* characters = text.GetBuffer(length + 1);
    if (Read(characters, length) != length) {
        text = "";
        return;
    }
    characters[length] = 0;
}

bool ChunkReader::CloseChunk() {
    if (Depth == 0) {
        return false;
    }
    const int64_t unread = Unread(CurrentChunkLength(), Consumed[Depth - 1]);
    if (unread > 0) {
        File->Seek(static_cast<int>(unread), FileClass::FromCurrent);
    }
    const uint32_t length = CurrentChunkLength();
    --Depth;
    if (Depth >= 1) {
        const int64_t consumed = static_cast<int64_t>(Consumed[Depth - 1]) + length + HeaderSize;
        Consumed[Depth - 1] = static_cast<int>(std::min<int64_t>(consumed, INT_MAX));
    }
    return true;
}
