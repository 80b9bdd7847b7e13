#include "quillbox/ConvertMixFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "file/ChunkWriter.h"
#include "file/FileClass.h"
#include "file/MemoryFile.h"
#include "file/MixFileFactoryClass.h"
#include "file/RawFileClass.h"
#include "foundation/Crc32.h"
#include "foundation/HashName.h"
#include "foundation/StringClass.h"
#include "foundation/VectorClass.h"
#include "package/ContentFileCheck.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageFileInfo.h"
#include "package/PackageManager.h"
#include "package/StoreFailure.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "quillbox/Console.h"

namespace {

// Larger than the 16384-byte read-ahead of the archive file, so that a large
// member is read straight from the archive, and large enough that a big
// archive is not copied in hundreds of thousands of small writes.
constexpr int CopyBufferSize = 65536;

// One conversion: the archive, read through one open file from member to
// member, the store it fills and the one copy buffer that every member passes
// through. A member is copied before its checksum, and so its store name, is
// known: under a temporary name numbered by its place in the name table
// (uninstall's cleanup removes one that a crash leaves behind). The content
// files get their names together, once all of them are on the disk, and only
// then is the package-info file that lists them placed.
class MixConversion {
public:
    MixConversion(Package& package, const char* archiveName, FileFactoryClass& factory, FlatFilesystem& store,
                  DirectoryStructure& layout)
        : package(package),
          archiveName(archiveName),
          factory(factory),
          archive(archiveName, &factory),
          store(store),
          layout(layout),
          contentFolder(layout.GetContentFolder()) {}
    ~MixConversion() {
        if (archiveFile != nullptr) {
            factory.ReturnFile(archiveFile);
        }
    }
    MixConversion(const MixConversion&) = delete;
    MixConversion& operator=(const MixConversion&) = delete;

    ConvertResult Run();

private:
    bool OpenArchiveFile();
    void TellUnopenedArchive();
    bool HoldsOwnIdentifier();
    bool ConvertMembers(const DynamicVectorClass<StringClass>& names);
    bool ReadContentFolder();
    bool ConvertMember(int index, const char* name);
    bool ReachMember(int64_t start);
    bool CopyMember(int64_t length, FileClass* copy, uint32_t& crc);
    bool IsPresent(const StringClass& path, const PackageFileInfo& info, const char* name, bool& refused);
    bool PlaceContentFile(const StringClass& partPath, const StringClass& path, int size, bool shared, bool complete);
    void DiscardCopy(const StringClass& partPath);
    bool WritePackageInfo();

    Package& package;
    const char* archiveName;
    FileFactoryClass& factory;
    MixFileFactoryClass archive;
    FlatFilesystem& store;
    DirectoryStructure& layout;
    const StringClass contentFolder;
    FileClass* archiveFile = nullptr;
    int64_t archiveSize = 0;
    // Where the reader stands in the archive file.
    int64_t archivePosition = 0;
    // Begun once the store folder exists, before the first member is written.
    std::optional<DurableBatch> contents;
    // The names in the content folder when the conversion began: a name not
    // among them needs no look of its own.
    std::unordered_set<std::string> contentNames;
    // Every member's copy is written through this one file object, in the
    // content folder made once at the start.
    RawFileClass target;
    WriteBackPacer pacer;
    bool skipped = false;
    unsigned char buffer[CopyBufferSize];
};

ConvertResult MixConversion::Run() {
    if (!archive.IsValid) {
        TellUnopenedArchive();
        return ConvertResult::ArchiveUnreadable;
    }
    // Without its whole name table the archive's members are not known, and
    // a package of the names read so far would pass for all of them.
    DynamicVectorClass<StringClass> names;
    if (!archive.GetFileNames(names)) {
        PrintError("The archive '%s' is damaged: its name table cannot be read whole.\r\n", archiveName);
        return ConvertResult::ArchiveUnreadable;
    }
    // Two conversions into one store would write the same temporary files, and
    // one could move the other's unfinished copy into place; they take turns
    // through the store's lock like the commands that use the index.
    platform::FileLock storeLock;
    if (!PackageManager::LockStore(store, storeLock)) {
        PrintError("Could not use the package store '%s'.\r\n", platform::NativePathText(store.GetRoot()).c_str());
        return ConvertResult::Abandoned;
    }
    if (!HoldsOwnIdentifier()) {
        return ConvertResult::NameTaken;
    }
    if (names.Count() > 0 && !OpenArchiveFile()) {
        TellUnopenedArchive();
        return ConvertResult::Abandoned;
    }
    contents.emplace(store, contentFolder);
    if (!ConvertMembers(names)) {
        PrintError("Failed to open file.\r\n");
        return ConvertResult::Abandoned;
    }
    if (!WritePackageInfo()) {
        return ConvertResult::InfoFileFailed;
    }
    return skipped ? ConvertResult::MembersSkipped : ConvertResult::Converted;
}

// Stops at the first member that cannot be stored; the content files copied
// before it get their names all the same, as in any conversion that stops on
// the way.
bool MixConversion::ConvertMembers(const DynamicVectorClass<StringClass>& names) {
    if (names.Count() > 0 && !ReadContentFolder()) {
        return false;
    }
    bool stored = true;
    for (int index = 0; stored && index < names.Count(); ++index) {
        stored = ConvertMember(index, names[index]);
    }
    return contents->Commit() && stored;
}

// False when the content folder cannot be made; one that cannot be listed is
// taken for empty, and a file that is there after all refuses its new name.
bool MixConversion::ReadContentFolder() {
    if (!CreateParentFolders(store.GetFullPath(layout.GetConversionPartPath(0)))) {
        return false;
    }
    std::vector<std::string> listed;
    static_cast<void>(store.ListFolder(contentFolder, listed));
    contentNames.insert(listed.begin(), listed.end());
    return true;
}

// The package-info file is named by the package's identifier alone. One that
// holds a record of another name, or an installed package of another name
// with that identifier, belongs to that other package and is not replaced;
// nor is one that cannot be read, which may.
bool MixConversion::HoldsOwnIdentifier() {
    const char* name = package.GetName();
    const uint32_t id = HashName(name);
    PackageManager index(store, layout);
    index.Load();
    StringClass holder;
    const Package* installed = index.FindPackage(id);
    if (installed != nullptr && !installed->HasName(name)) {
        holder = installed->GetName();
    } else if (!index.ReadPackageInfoName(id, holder)) {
        PrintError("Could not read the package-info file '%s'.\r\n",
                   layout.GetPackageInfoPath(DirectoryStructure::GetPackageInfoFileName(id)).Peek());
        return false;
    }
    if (holder.IsEmpty() || EqualsIgnoringAsciiCase(holder, name)) {
        return true;
    }
    if (HashName(holder) == id) {
        PrintError("%s\r\n", DescribeHeldIdentifier(name, holder).Peek());
    } else {
        PrintError("The package-info file '%s' does not describe package '%s'.\r\n",
                   layout.GetPackageInfoPath(DirectoryStructure::GetPackageInfoFileName(id)).Peek(), name);
    }
    return false;
}

// The archive file is opened once for all members: a file object per member
// would open it again, and ask for its size, each time.
bool MixConversion::OpenArchiveFile() {
    archiveFile = factory.GetFile(archiveName);
    if (archiveFile == nullptr || !archiveFile->Open(FileClass::ReadOnly)) {
        return false;
    }
    archiveSize = archiveFile->Size();
    return archiveSize >= 0;
}

// The archive as typed, and under it the file the program looked at (a
// relative name is looked for in the game-files folder) and why it was not
// used: the system's reason, or its bytes.
void MixConversion::TellUnopenedArchive() {
    PrintError("Failed to open input file '%s'.\r\n", archiveName);
    FileClass* file = factory.GetFile(archiveName);
    const StringClass path = QuotedPath(file->GetFileName());
    const bool opened = file->Open(FileClass::ReadOnly);
    const int error = platform::LastErrorNumber();
    factory.ReturnFile(file);
    if (opened) {
        PrintError("The file %s is not a whole MIX1 archive.\r\n", path.Peek());
    } else {
        PrintError("Could not open %s: %s.\r\n", path.Peek(), platform::DescribeError(error).c_str());
    }
}

// False when the conversion must be abandoned. A name that the index does not
// hold, or holds with an offset that cannot be read or bytes that reach past
// the end of the archive, has no bytes to store, so it is left out of the
// package.
bool MixConversion::ConvertMember(int index, const char* name) {
    int64_t start = 0;
    int64_t length = 0;
    if (!archive.FindMember(name, archiveSize, start, length)) {
        if (archive.HasEntry(name)) {
            PrintError("Skipping '%s': its entry in the archive index is not valid.\r\n", name);
        } else {
            PrintError("Skipping '%s': not in the archive index.\r\n", name);
        }
        skipped = true;
        return true;
    }
    // The checksum does not change the length of the content file's name.
    if (!layout.CanHoldContentFile(PackageFileInfo(0, 0, name))) {
        PrintError("Skipping '%s': its name is too long for a file of the store.\r\n", name);
        skipped = true;
        return true;
    }
    const StringClass partPath = layout.GetConversionPartPath(index);
    // The content folder was listed at the start, so only a leftover of an
    // earlier conversion needs a look of its own.
    const bool cleared = contentNames.count(partPath.Peek() + contentFolder.GetLength() + 1) == 0 ||
                         DurableStore(store, layout).ClearLeftover(partPath);
    const StringClass fullPartPath = store.GetFullPath(partPath);
    const bool partWritten = cleared && (target.Open(fullPartPath, FileClass::WriteNew) != 0 ||
                                         NoteStoreFailure(FormatString("create %s", QuotedPath(fullPartPath).Peek())));
    uint32_t crc = 0;
    const bool complete = ReachMember(start) && CopyMember(length, partWritten ? &target : nullptr, crc);
    const PackageFileInfo info(crc, static_cast<int>(length), name);
    const StringClass path = layout.GetContentFilePath(info);
    bool refused = false;
    const bool shared = IsPresent(path, info, name, refused);
    if (refused) {
        DiscardCopy(partPath);
        skipped = true;
        return true;
    }
    package.AddFile(info);
    return PlaceContentFile(partPath, path, info.size, shared, partWritten && complete);
}

// Members usually follow one another, so the reader mostly stands where the
// next one begins and need not move.
bool MixConversion::ReachMember(int64_t start) {
    if (start != archivePosition) {
        if (archiveFile->Seek(static_cast<int>(start), FileClass::FromStart) != start) {
            return false;
        }
        archivePosition = start;
    }
    return true;
}

// Reads the member once, to its end, for its checksum, and copies what it
// reads to the copy when there is one. Complete only when every byte of the
// member reached the copy: a write that comes out short (a full disk) stops
// the copy but not the checksum, and a read that ends early fails it.
bool MixConversion::CopyMember(int64_t length, FileClass* copy, uint32_t& crc) {
    Crc32 checksum;
    bool intact = copy != nullptr;
    int64_t total = 0;
    pacer.Reset();
    while (total < length) {
        const int got = archiveFile->Read(buffer, static_cast<int>(std::min<int64_t>(length - total, CopyBufferSize)));
        if (got <= 0) {
            break;
        }
        checksum.Update(buffer, static_cast<size_t>(got));
        intact = intact && (copy->Write(buffer, got) == got ||
                            NoteStoreFailure(FormatString("write %s", QuotedPath(copy->GetFileName()).Peek())));
        if (intact) {
            pacer.Wrote(*copy, got);
        }
        total += got;
    }
    archivePosition += total;
    crc = checksum.Value();
    return intact && total == length;
}

// A content file whose bytes have the checksum of its name and the member's
// size. One without that checksum (cut short, zeroed) is replaced. One that
// has it at another size is another package's whole file under a forged
// checksum, and one that cannot be read may be: the member is refused then,
// as a member the index cannot give is, and the file stays as it is.
bool MixConversion::IsPresent(const StringClass& path, const PackageFileInfo& info, const char* name, bool& refused) {
    if (contents->Holds(path)) {
        return true;
    }
    if (contentNames.count(path.Peek() + contentFolder.GetLength() + 1) == 0) {
        return false;
    }
    const ContentFileReport report = CheckContentFile(store, path, info);
    if (report.state == ContentFileState::OtherSize) {
        PrintError("Skipping '%s': the store's content file '%s' has its checksum but %lld bytes, not %d.\r\n", name,
                   path.Peek(), static_cast<long long>(report.size), static_cast<int>(info.size));
        refused = true;
    } else if (report.state == ContentFileState::Unreadable) {
        PrintError("Skipping '%s': the store's content file '%s' cannot be read.\r\n", name, path.Peek());
        refused = true;
    }
    return report.state == ContentFileState::Whole;
}

// An existing file is shared, not rewritten. Otherwise the complete copy takes
// the name when the batch is committed.
bool MixConversion::PlaceContentFile(const StringClass& partPath, const StringClass& path, int size, bool shared,
                                     bool complete) {
    const bool opened = target.IsOpen();
    const bool held = !shared && complete && contents->Hold(target, partPath, path, size);
    target.Close();
    if (opened && !held) {
        store.DeleteFile(partPath);
    }
    return shared || held;
}

void MixConversion::DiscardCopy(const StringClass& partPath) {
    if (target.IsOpen()) {
        target.Close();
        store.DeleteFile(partPath);
    }
}

// Written last, so that a package-info file only names content files that are
// durably in the store, and replaced in one step, so that an older one
// survives a failed write. The record is put together in memory, where its
// headers are rewritten for free, and reaches the disk in one piece.
bool MixConversion::WritePackageInfo() {
    const uint32_t id = HashName(package.GetName());
    const StringClass path = layout.GetPackageInfoPath(DirectoryStructure::GetPackageInfoFileName(id));
    MemoryFile record;
    ChunkWriter writer(&record);
    const bool written =
        package.Save(writer) && DurableStore(store, layout).ReplaceWhole(path, record.GetData(), record.Size());
    if (!written) {
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
