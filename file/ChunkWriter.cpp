#include "file/ChunkWriter.h"

#include "file/FileClass.h"
#include "foundation/StringClass.h"

namespace {

constexpr uint32_t HasSubChunks = 0x80000000u;
constexpr uint32_t PayloadMask = 0x7FFFFFFFu;

// Headers are little-endian whatever the machine.
void EncodeHeader(uint32_t id, uint32_t size, unsigned char* bytes) {
    for (int index = 0; index < 4; ++index) {
        bytes[index] = static_cast<unsigned char>(id >> (8 * index));
        bytes[4 + index] = static_cast<unsigned char>(size >> (8 * index));
    }
}

}  // namespace

ChunkWriter::ChunkWriter(FileClass* file) : File(file) {}

void ChunkWriter::AddToCurrentSize(uint32_t count) {
    if (Depth == 0) {
        return;
    }
    uint32_t& size = Headers[Depth - 1].size;
    size = (size & HasSubChunks) | ((size + count) & PayloadMask);
}

bool ChunkWriter::BeginChunk(uint32_t id) {
    if (Depth >= MaxDepth) {
        return false;
    }
    if (Depth > 0) {
        Headers[Depth - 1].size |= HasSubChunks;
    }
    Positions[Depth] = File->Seek(0, FileClass::FromCurrent);
    Headers[Depth] = {id, 0};
    ++Depth;
    unsigned char bytes[8];
    EncodeHeader(id, 0, bytes);
    return File->Write(bytes, 8) == 8;
}

bool ChunkWriter::EndChunk() {
    if (Depth <= 0) {
        return false;
    }
    const int resume = File->Seek(0, FileClass::FromCurrent);
    --Depth;
    // A header rewritten anywhere but at its own place would corrupt the file.
    const int headerAt = Positions[Depth];
    if (resume < 0 || headerAt < 0 || File->Seek(headerAt, FileClass::FromStart) != headerAt) {
        return false;
    }
    const Header closed = Headers[Depth];
    unsigned char bytes[8];
    EncodeHeader(closed.id, closed.size, bytes);
    if (File->Write(bytes, 8) != 8) {
        return false;
    }
    if (Depth >= 1) {
        AddToCurrentSize((closed.size & PayloadMask) + 8);
    }
    return File->Seek(resume, FileClass::FromStart) == resume;
}

int ChunkWriter::Write(const void* buffer, int count) {
    const int written = File->Write(buffer, count);
    if (written == count && count > 0) {
        AddToCurrentSize(static_cast<uint32_t>(count));
    }
    return written;
}

int ChunkWriter::WriteString(const StringClass& text) {
    // The length field has 16 bits; a longer text would be stored cut short.
    if (text.GetLength() > MaxStringLength) {
        return 0;
    }
    const uint16_t length = static_cast<uint16_t>(text.GetLength());
    const unsigned char lengthBytes[2] = {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8)};
    int accounted = 0;
    if (File->Write(lengthBytes, 2) == 2) {
        AddToCurrentSize(2);
        accounted += 2;
    }
    if (length > 0 && File->Write(text.Peek(), length) == length) {
        AddToCurrentSize(length);
        accounted += length;
    }
    return accounted;
}
