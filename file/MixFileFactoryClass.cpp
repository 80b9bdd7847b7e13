#include "file/MixFileFactoryClass.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "file/FileClass.h"
#include "foundation/HashName.h"

static_assert(sizeof(FileInfoStruct) == 12, "index entries are read straight into the entry array");
static_assert(std::endian::native == std::endian::little, "the archive's integers are little-endian");

namespace {

constexpr uint32_t MixMagic = 0x3158494D;  // "MIX1"
constexpr int EntrySize = 12;

struct MixHeader {
    uint32_t Magic;
    uint32_t IndexOffset;
    uint32_t NamesOffset;
    uint32_t Reserved;
};

bool ReadExactly(FileClass& file, void* buffer, int count) { return file.Read(buffer, count) == count; }

bool SeekTo(FileClass& file, int64_t offset) {
    return offset >= 0 && offset <= INT32_MAX && file.Seek(static_cast<int>(offset), FileClass::FromStart) == offset;
}

// Reads the header and the entry count, and checks that the count's entries
// fit between the count and the end of the file, so that an absurd count is
// refused before anything is allocated for it.
bool ReadIndexHead(FileClass& file, MixHeader& header, int& entryCount) {
    const int64_t fileSize = file.Size();
    uint32_t count = 0;
    if (!ReadExactly(file, &header, sizeof header) || header.Magic != MixMagic) {
        return false;
    }
    const int64_t entriesStart = int64_t{header.IndexOffset} + 4;
    if (entriesStart > fileSize || !SeekTo(file, header.IndexOffset) || !ReadExactly(file, &count, sizeof count)) {
        return false;
    }
    if (int64_t{count} * EntrySize > fileSize - entriesStart) {
        return false;
    }
    entryCount = static_cast<int>(count);
    return true;
}

bool IsSortedByCrc(const FileInfoStruct* entries, int count) {
    for (int index = 1; index < count; ++index) {
        if (entries[index].CRC < entries[index - 1].CRC) {
            return false;
        }
    }
    return true;
}

// Reads count entries in one piece and sorts them by crc when the archive
// stored them out of order, so that lookups can search them.
bool ReadEntries(FileClass& file, DynamicVectorClass<FileInfoStruct>& entries, int count) {
    if (!entries.Resize(count)) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    entries.SetCount(count);
    FileInfoStruct* first = &entries[0];
    if (!ReadExactly(file, first, count * EntrySize)) {
        return false;
    }
    if (!IsSortedByCrc(first, count)) {
        std::sort(first, first + count,
                  [](const FileInfoStruct& left, const FileInfoStruct& right) { return left.CRC < right.CRC; });
    }
    return true;
}

// Grown ten at a time, a list of many names would be moved over and over; it
// doubles instead, as the names arrive.
bool MakeRoomForOneMore(DynamicVectorClass<StringClass>& list) {
    return list.Count() < list.Length() ||
           (list.Count() <= INT32_MAX / 2 && list.Resize(std::max(2 * list.Count(), 16)));
}

}  // namespace

MixFileFactoryClass::MixFileFactoryClass(const char* archiveName, FileFactoryClass* baseFactory)
    : SourceFactory(baseFactory), ArchiveName(archiveName) {
    NameList.SetGrowthStep(1000);
    if (SourceFactory == nullptr) {
        return;
    }
    FileClass* file = SourceFactory->GetFile(archiveName);
    if (file == nullptr) {
        return;
    }
    if (file->IsAvailable(false) && file->Open(FileClass::ReadOnly)) {
        MixHeader header{};
        IsValid = ReadIndexHead(*file, header, EntryCount) && ReadEntries(*file, Entries, EntryCount);
        if (IsValid) {
            StartOffset = 0;
            NameTableOffset = static_cast<int>(header.NamesOffset);
        }
    }
    if (!IsValid) {
        Entries.Clear();
    }
    SourceFactory->ReturnFile(file);
}

MixFileFactoryClass::~MixFileFactoryClass() { Entries.Clear(); }

const FileInfoStruct* MixFileFactoryClass::FindEntry(const char* name) const {
    if (Entries.Count() == 0 || name == nullptr) {
        return nullptr;
    }
    const uint32_t crc = HashName(name);
    int low = 0;
    int high = Entries.Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const FileInfoStruct& entry = Entries[middle];
        if (entry.CRC == crc) {
            return &entry;
        }
        if (entry.CRC < crc) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return nullptr;
}

bool MixFileFactoryClass::HasEntry(const char* name) const { return FindEntry(name) != nullptr; }

// A window cannot start on the header: offset 0 would mean the whole archive,
// and a negative one lies beyond any file read here.
const FileInfoStruct* MixFileFactoryClass::FindReadableEntry(const char* name) const {
    const FileInfoStruct* entry = FindEntry(name);
    return entry == nullptr || StartOffset + entry->Offset <= 0 ? nullptr : entry;
}

bool MixFileFactoryClass::FindMember(const char* name, int64_t archiveSize, int64_t& start, int64_t& length) const {
    const FileInfoStruct* entry = FindReadableEntry(name);
    if (entry == nullptr) {
        return false;
    }
    start = int64_t{StartOffset} + entry->Offset;
    // A window would cut such a member at the end of the file, and one that
    // starts beyond it to nothing: the index is damaged, the bytes are not there.
    if (entry->Size < 0 || start + entry->Size > archiveSize) {
        return false;
    }
    length = entry->Size;
    return true;
}

FileClass* MixFileFactoryClass::GetFile(const char* name) {
    const FileInfoStruct* entry = FindReadableEntry(name);
    if (entry == nullptr) {
        return nullptr;
    }
    FileClass* file = SourceFactory->GetFile(ArchiveName);
    if (file != nullptr) {
        file->SetWindow(StartOffset + entry->Offset, entry->Size);
    }
    return file;
}

void MixFileFactoryClass::ReturnFile(FileClass* file) {
    if (file != nullptr && SourceFactory != nullptr) {
        SourceFactory->ReturnFile(file);
    }
}

bool MixFileFactoryClass::GetFileNames(DynamicVectorClass<StringClass>& list) {
    if (!IsValid) {
        return false;
    }
    FileClass* file = SourceFactory->GetFile(ArchiveName);
    if (file == nullptr) {
        return false;
    }
    uint32_t count = 0;
    bool whole = file->Open(FileClass::ReadOnly) && SeekTo(*file, static_cast<uint32_t>(NameTableOffset)) &&
                 ReadExactly(*file, &count, sizeof count);
    // A table that claims more names than it holds stops at the end of the
    // file: every later read would fail as well.
    for (uint32_t index = 0; whole && index < count; ++index) {
        unsigned char length = 0;
        char name[256];
        whole = ReadExactly(*file, &length, 1) && ReadExactly(*file, name, length) && MakeRoomForOneMore(list);
        if (whole) {
            name[length] = 0;
            list.Add(StringClass(name));
        }
    }
    file->Close();
    SourceFactory->ReturnFile(file);
    return whole;
}
