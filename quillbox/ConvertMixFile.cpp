#include "quillbox/ConvertMixFile.h"

#include <cstdint>

#include "file/ChunkWriter.h"
#include "file/FileClass.h"
#include "file/HashFileContents.h"
#include "file/MixFileFactoryClass.h"
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

// Files are written under this suffix and renamed into place once complete,
// so a name in the store never stands for a file that was cut short.
constexpr const char* PartSuffix = ".part";

// One conversion: the archive, the store it fills and the one copy buffer
// that every member passes through.
class MixConversion {
public:
    MixConversion(Package& package, const char* archiveName, FileFactoryClass& factory, FlatFilesystem& store,
                  DirectoryStructure& layout)
        : package(package), archiveName(archiveName), archive(archiveName, &factory), store(store), layout(layout) {}

    ConvertResult Run();

private:
    bool ConvertMember(const char* name);
    bool StoreContentFile(FileClass& member, const StringClass& path, int size);
    bool CopyMember(FileClass& member, FileClass& target, int size);
    bool WritePackageInfo();

    Package& package;
    const char* archiveName;
    MixFileFactoryClass archive;
    FlatFilesystem& store;
    DirectoryStructure& layout;
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
        if (!ConvertMember(names[index])) {
            return ConvertResult::Abandoned;
        }
    }
    return WritePackageInfo() ? ConvertResult::Converted : ConvertResult::InfoFileFailed;
}

// False when the conversion must be abandoned. A name that the index does not
// hold has no bytes to store, so it is left out of the package.
bool MixConversion::ConvertMember(const char* name) {
    FileClass* member = archive.GetFile(name);
    if (member == nullptr) {
        PrintError("Skipping '%s': not in the archive index.\r\n", name);
        return true;
    }
    // A member that does not open would be read again from its start by every
    // Read, so hashing it would never end.
    if (!member->Open(FileClass::ReadOnly)) {
        archive.ReturnFile(member);
        PrintError("Failed to open input file '%s'.\r\n", archiveName);
        return false;
    }
    const uint32_t crc = HashFileContents(member);
    const int size = member->Size();
    const PackageFileInfo info(crc, size, name);
    package.AddFile(info);
    const StringClass path = layout.GetContentFilePath(info);
    // An existing file of the same checksum and name is shared, not rewritten.
    const bool stored = store.FileExists(path) || StoreContentFile(*member, path, size);
    member->Close();
    archive.ReturnFile(member);
    if (!stored) {
        PrintError("Failed to open file.\r\n");
    }
    return stored;
}

bool MixConversion::StoreContentFile(FileClass& member, const StringClass& path, int size) {
    const StringClass partPath = path + PartSuffix;
    FileClass* target = store.GetFile(partPath);
    bool complete = target->Open(FileClass::WriteOnly) && CopyMember(member, *target, size);
    store.ReturnFile(target);
    if (complete) {
        // The move refuses to replace a file; one that appeared meanwhile under
        // the same checksum and name serves just as well.
        store.MoveFile(partPath, path);
        complete = store.FileExists(path);
    }
    // Removes what a failed copy left; after a successful move it finds nothing.
    store.DeleteFile(partPath);
    return complete;
}

// Complete only when every byte of the member reached the target: a write that
// comes out short (a full disk) or a read that ends early fails the copy.
bool MixConversion::CopyMember(FileClass& member, FileClass& target, int size) {
    if (member.Seek(0, FileClass::FromStart) != 0) {
        return false;
    }
    int64_t copied = 0;
    for (;;) {
        const int got = member.Read(buffer, CopyBufferSize);
        if (got <= 0) {
            break;
        }
        if (target.Write(buffer, got) != got) {
            return false;
        }
        copied += got;
    }
    return copied == size;
}

// Written last, so that a package-info file only names content files that are
// in the store, and replaced in one step, so that an older one survives a
// failed write.
bool MixConversion::WritePackageInfo() {
    const StringClass fileName = FormatString("%08x.kpi", static_cast<unsigned>(HashName(package.GetName())));
    const StringClass path = layout.GetPackageInfoPath(fileName);
    const StringClass partPath = path + PartSuffix;
    FileClass* file = store.GetFile(partPath);
    bool written = false;
    if (file->Open(FileClass::WriteOnly)) {
        ChunkWriter writer(file);
        written = package.Save(writer);
    }
    store.ReturnFile(file);
    written = written && store.ReplaceFile(partPath, path);
    if (!written) {
        store.DeleteFile(partPath);
        PrintError("Failed to open output file '%s'.\r\n", store.GetFullPath(path).Peek());
    }
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
