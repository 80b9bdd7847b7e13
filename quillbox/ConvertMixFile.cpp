#include "quillbox/ConvertMixFile.h"

#include <cstdint>

#include "file/ChunkWriter.h"
#include "file/FileClass.h"
#include "file/MemoryFile.h"
#include "file/MixFileFactoryClass.h"
#include "foundation/Crc32.h"
#include "foundation/HashName.h"
#include "foundation/StringClass.h"
#include "foundation/VectorClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageFileInfo.h"
#include "package/PackageManager.h"
#include "platform/FileLock.h"
#include "quillbox/Console.h"

namespace {

// Larger than the 16384-byte read-ahead of the member's file, so the copy reads
// straight from the archive, and large enough that a big archive is not
// copied in hundreds of thousands of small writes.
constexpr int CopyBufferSize = 65536;

// Files are written under a temporary name and renamed into place once
// complete, so a name in the store never stands for a file that was cut short.
constexpr const char* PartSuffix = ".part";

// A member is copied before its checksum, and so its store name, is known.
// Its temporary name is numbered by the member's place in the name table;
// uninstall's cleanup removes one that a crash leaves behind.
StringClass MemberPartPath(int index) { return FormatString("files/convert-%d%s", index, PartSuffix); }

// One conversion: the archive, the store it fills and the one copy buffer
// that every member passes through.
class MixConversion {
public:
    MixConversion(Package& package, const char* archiveName, FileFactoryClass& factory, FlatFilesystem& store,
                  DirectoryStructure& layout)
        : package(package), archiveName(archiveName), archive(archiveName, &factory), store(store), layout(layout) {}

    ConvertResult Run();

private:
    bool ConvertMember(int index, const char* name);
    bool CopyMember(FileClass& member, FileClass* target, uint32_t& crc);
    bool PlaceContentFile(const StringClass& partPath, const StringClass& path, bool partWritten, bool complete);
    bool WritePackageInfo();
    bool WriteWhole(MemoryFile& record, const StringClass& path);

    Package& package;
    const char* archiveName;
    MixFileFactoryClass archive;
    FlatFilesystem& store;
    DirectoryStructure& layout;
    bool skipped = false;
    unsigned char buffer[CopyBufferSize];
};

ConvertResult MixConversion::Run() {
    if (!archive.IsValid) {
        PrintError("Failed to open input file '%s'.\r\n", archiveName);
        return ConvertResult::ArchiveUnreadable;
    }
    // Two conversions into one store would write the same ".part" files, and
    // one could move the other's unfinished copy into place; they take turns
    // through the store's lock like the commands that use the index.
    platform::FileLock storeLock;
    PackageManager::LockStore(store, storeLock);
    DynamicVectorClass<StringClass> names;
    archive.GetFileNames(names);
    for (int index = 0; index < names.Count(); ++index) {
        if (!ConvertMember(index, names[index])) {
            return ConvertResult::Abandoned;
        }
    }
    if (!WritePackageInfo()) {
        return ConvertResult::InfoFileFailed;
    }
    return skipped ? ConvertResult::MembersSkipped : ConvertResult::Converted;
}

// False when the conversion must be abandoned. A name that the index does not
// hold, or holds with an offset that cannot be read, has no bytes to store, so
// it is left out of the package.
bool MixConversion::ConvertMember(int index, const char* name) {
    FileClass* member = archive.GetFile(name);
    if (member == nullptr) {
        if (archive.HasEntry(name)) {
            PrintError("Skipping '%s': its entry in the archive index is not valid.\r\n", name);
        } else {
            PrintError("Skipping '%s': not in the archive index.\r\n", name);
        }
        skipped = true;
        return true;
    }
    // A member that does not open would be read again from its start by every
    // Read, so reading it would never end.
    if (!member->Open(FileClass::ReadOnly)) {
        archive.ReturnFile(member);
        PrintError("Failed to open input file '%s'.\r\n", archiveName);
        return false;
    }
    const StringClass partPath = MemberPartPath(index);
    FileClass* target = store.GetFile(partPath);
    const bool partWritten = target->Open(FileClass::WriteOnly) != 0;
    uint32_t crc = 0;
    const bool complete = CopyMember(*member, partWritten ? target : nullptr, crc);
    store.ReturnFile(target);
    const PackageFileInfo info(crc, member->Size(), name);
    member->Close();
    archive.ReturnFile(member);
    package.AddFile(info);
    const bool stored = PlaceContentFile(partPath, layout.GetContentFilePath(info), partWritten, complete);
    if (!stored) {
        PrintError("Failed to open file.\r\n");
    }
    return stored;
}

// Reads the member once, to its end, for its checksum, and copies what it
// reads to the target when there is one. Complete only when every byte of the
// member reached the target: a write that comes out short (a full disk) stops
// the copy but not the checksum, and a read that ends early fails it.
bool MixConversion::CopyMember(FileClass& member, FileClass* target, uint32_t& crc) {
    Crc32 checksum;
    bool intact = target != nullptr;
    int64_t total = 0;
    for (;;) {
        const int got = member.Read(buffer, CopyBufferSize);
        if (got <= 0) {
            break;
        }
        checksum.Update(buffer, static_cast<size_t>(got));
        intact = intact && target->Write(buffer, got) == got;
        total += got;
    }
    crc = checksum.Value();
    return intact && total == member.Size();
}

// An existing file of the same checksum and name is shared, not rewritten;
// otherwise the complete copy takes that name.
bool MixConversion::PlaceContentFile(const StringClass& partPath, const StringClass& path, bool partWritten,
                                     bool complete) {
    bool stored = store.FileExists(path);
    bool moved = false;
    if (!stored && complete) {
        store.MoveFile(partPath, path);
        stored = moved = store.FileExists(path);
    }
    if (partWritten && !moved) {
        store.DeleteFile(partPath);
    }
    return stored;
}

// Written last, so that a package-info file only names content files that are
// in the store, and replaced in one step, so that an older one survives a
// failed write. The record is put together in memory, where its headers are
// rewritten for free, and reaches the disk in one piece.
bool MixConversion::WritePackageInfo() {
    const StringClass fileName = FormatString("%08x.kpi", static_cast<unsigned>(HashName(package.GetName())));
    const StringClass path = layout.GetPackageInfoPath(fileName);
    const StringClass partPath = path + PartSuffix;
    MemoryFile record;
    ChunkWriter writer(&record);
    const bool written = package.Save(writer) && WriteWhole(record, partPath) && store.ReplaceFile(partPath, path);
    if (!written) {
        store.DeleteFile(partPath);
        PrintError("Failed to open output file '%s'.\r\n", store.GetFullPath(path).Peek());
    }
    return written;
}

bool MixConversion::WriteWhole(MemoryFile& record, const StringClass& path) {
    FileClass* file = store.GetFile(path);
    bool written = file->Open(FileClass::WriteOnly) && record.Seek(0, FileClass::FromStart) == 0;
    while (written) {
        const int got = record.Read(buffer, CopyBufferSize);
        if (got <= 0) {
            break;
        }
        written = file->Write(buffer, got) == got;
    }
    store.ReturnFile(file);
    return written;
}

}  // namespace

ConvertResult ConvertMixFile(Package& package, const char* archiveName, FileFactoryClass& factory) {
    return ConvertMixFile(package, archiveName, factory, GetStoreFilesystem(), GetDirectoryStructure());
}

ConvertResult ConvertMixFile(Package& package, const char* archiveName, FileFactoryClass& factory,
                             FlatFilesystem& store, DirectoryStructure& layout) {
    MixConversion conversion(package, archiveName, factory, store, layout);
    return conversion.Run();
}
