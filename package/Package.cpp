#include "package/Package.h"

#include <algorithm>
#include <cstring>

#include "file/ChunkReader.h"
#include "file/ChunkWriter.h"
#include "file/FileClass.h"
#include "foundation/HashName.h"

namespace {

// Records are little-endian on disk whatever the host's byte order.
uint32_t DecodeWord(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool WriteWord(ChunkWriter& writer, uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return writer.Write(bytes, 4) == 4;
}

// A word that the chunk does not hold is left as it was.
void ReadWord(ChunkReader& reader, uint32_t& value) {
    unsigned char bytes[4];
    if (reader.Read(bytes, 4) == 4) {
        value = DecodeWord(bytes);
    }
}

constexpr int ChunkHeaderSize = 8;

// True when `tail` is how a chunk of this id begins, as far as it goes.
bool BeginsChunk(const unsigned char* tail, int length, uint32_t id) {
    const unsigned char idBytes[4] = {static_cast<unsigned char>(id), static_cast<unsigned char>(id >> 8),
                                      static_cast<unsigned char>(id >> 16), static_cast<unsigned char>(id >> 24)};
    return length > 0 && std::memcmp(tail, idBytes, static_cast<size_t>(std::min(length, 4))) == 0;
}

bool WriteText(ChunkWriter& writer, const StringClass& text) {
    const int expected = 2 + text.GetLength();
    return writer.WriteString(text) == expected;
}

}  // namespace

Package::Package(const char* name, const char* version, const char* author)
    : name(name), version(version), author(author), revision(2) {}

Package::Package(ChunkReader& reader) {
    while (reader.OpenChunk()) {
        if (reader.CurrentChunkId() == DataChunkId) {
            ReadData(reader);
        } else if (reader.CurrentChunkId() == FileChunkId) {
            ReadFileEntry(reader);
        }
        reader.CloseChunk();
    }
}

Package::~Package() = default;

// The walk is the reader's own, so what it passes over at the end is exactly
// what reading the record passes over.
bool Package::IsCutShort(FileClass& file) {
    file.Seek(0, FileClass::FromStart);
    const int64_t size = file.Size();
    int64_t end = 0;
    ChunkReader reader(&file);
    bool cut = false;
    while (!cut && reader.OpenChunk()) {
        end += ChunkHeaderSize + reader.CurrentChunkLength();
        cut = end > size;
        reader.CloseChunk();
    }
    if (!cut && end < size) {
        unsigned char tail[ChunkHeaderSize] = {};
        file.Seek(static_cast<int>(end), FileClass::FromStart);
        const int length = file.Read(tail, static_cast<int>(std::min<int64_t>(size - end, ChunkHeaderSize)));
        cut = BeginsChunk(tail, length, DataChunkId) || BeginsChunk(tail, length, FileChunkId);
    }
    file.Seek(0, FileClass::FromStart);
    return cut;
}

void Package::ReadData(ChunkReader& reader) {
    reader.ReadString(name);
    reader.ReadString(version);
    reader.ReadString(author);
    uint32_t word = static_cast<uint32_t>(revision);
    ReadWord(reader, word);
    revision = static_cast<int32_t>(word);
}

void Package::ReadFileEntry(ChunkReader& reader) {
    uint32_t crc = 0;
    uint32_t size = 0;
    StringClass fileName;
    ReadWord(reader, crc);
    ReadWord(reader, size);
    reader.ReadString(fileName);
    AddFile(PackageFileInfo(crc, static_cast<int32_t>(size), fileName));
}

void Package::AddFile(const PackageFileInfo& info) {
    // A fixed growth step would copy the whole list again every ten entries;
    // growing with the list keeps a record of many files linear to build.
    if (files.Count() == files.Length() && files.Count() / 2 > files.GetGrowthStep()) {
        files.SetGrowthStep(files.Count() / 2);
    }
    files.Add(info);
}

bool Package::Save(ChunkWriter& writer) const {
    bool complete = writer.BeginChunk(DataChunkId);
    complete &= WriteText(writer, name);
    complete &= WriteText(writer, version);
    complete &= WriteText(writer, author);
    complete &= WriteWord(writer, static_cast<uint32_t>(revision));
    complete &= writer.EndChunk();
    for (int index = 0; index < files.Count(); ++index) {
        const PackageFileInfo& info = files[index];
        complete &= writer.BeginChunk(FileChunkId);
        complete &= WriteWord(writer, info.crc);
        complete &= WriteWord(writer, static_cast<uint32_t>(info.size));
        complete &= WriteText(writer, info.name);
        complete &= writer.EndChunk();
    }
    return complete;
}

bool Package::HasName(const char* otherName) const {
    return otherName != nullptr && EqualsIgnoringAsciiCase(name, otherName);
}

StringClass DescribeHeldIdentifier(const char* name, const char* holder) {
    return FormatString("Package '%s' cannot be used: its identifier %08x belongs to package '%s'.", name,
                        static_cast<unsigned>(HashName(name)), holder);
}

bool Package::HasPossibleSizes() const {
    for (int index = 0; index < files.Count(); ++index) {
        if (files[index].size < 0) {
            return false;
        }
    }
    return true;
}
