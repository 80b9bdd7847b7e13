// A package-info file as a repository serves it: read from memory with the
// chunk reader, as a finished download is. What was read must survive being
// written and read again, which the index relies on at every save.
#include "FuzzTargets.h"
#include "SamePackage.h"
#include "file/ChunkReader.h"
#include "file/ChunkWriter.h"
#include "file/MemoryFile.h"

namespace {

uint32_t WordAt(const uint8_t* data) {
    return data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
}

// The number of FILE chunks at the top level when the chunk headers lead
// exactly to the end of the bytes; -1 when they do not. Each of them is one
// content entry, however damaged its payload is.
int WholeFileChunks(const uint8_t* data, size_t size) {
    int count = 0;
    size_t at = 0;
    while (at + 8 <= size) {
        count += WordAt(data + at) == Package::FileChunkId ? 1 : 0;
        at += 8 + static_cast<size_t>(WordAt(data + at + 4) & 0x7FFFFFFFu);
    }
    return at == size ? count : -1;
}

}  // namespace

int FuzzPackageRecord(const uint8_t* data, size_t size) {
    if (size > FuzzMaxInputSize) {
        return 0;
    }
    MemoryFile input;
    input.Write(data, static_cast<int>(size));
    input.Seek(0, FileClass::FromStart);
    ChunkReader reader(&input);
    const Package package(reader);
    const int fileChunks = WholeFileChunks(data, size);
    FUZZ_CHECK(fileChunks < 0 || package.GetFileCount() == fileChunks);

    MemoryFile saved;
    ChunkWriter writer(&saved);
    FUZZ_CHECK(package.Save(writer));
    saved.Seek(0, FileClass::FromStart);
    ChunkReader again(&saved);
    const Package copy(again);
    FUZZ_CHECK(SamePackage(package, copy));
    return 0;
}
