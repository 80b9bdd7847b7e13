#include "package/PackageManager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "file/ChunkReader.h"
#include "file/ChunkWriter.h"
#include "file/FileClass.h"
#include "file/MemoryFile.h"
#include "foundation/HashName.h"
#include "foundation/StringClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/StoreFailure.h"

namespace {

// The content paths in use, kept as 64-bit fingerprints in one flat table
// (open addressing, never more than half full). A store of many packages
// lists hundreds of thousands of paths; a table of separately allocated
// strings spends its time waiting for memory. Two paths that share a
// fingerprint can only keep a file that could have gone: a path in use is
// never missed.
class PathSet {
public:
    PathSet() = default;
    ~PathSet() { delete[] Slots; }
    PathSet(const PathSet&) = delete;
    PathSet& operator=(const PathSet&) = delete;

    // False when memory ran out.
    bool Insert(const char* key) {
        if (2 * (Count + 1) > Capacity && !Grow()) {
            return false;
        }
        const uint64_t fingerprint = Fingerprint(key);
        uint64_t& slot = SlotOf(fingerprint);
        if (slot == Empty) {
            slot = fingerprint;
            ++Count;
        }
        return true;
    }

    bool Contains(const char* key) const { return Capacity > 0 && SlotOf(Fingerprint(key)) != Empty; }

private:
    static constexpr uint64_t Empty = 0;

    // FNV-1a over every byte, then a final mix: content paths of different
    // packages often differ only in a few checksum digits.
    static uint64_t Fingerprint(const char* key) {
        uint64_t hash = 14695981039346656037ull;
        for (const unsigned char* at = reinterpret_cast<const unsigned char*>(key); *at != 0; ++at) {
            hash = (hash ^ *at) * 1099511628211ull;
        }
        hash ^= hash >> 29;
        hash *= 0xBF58476D1CE4E5B9ull;
        hash ^= hash >> 32;
        return hash == Empty ? 1 : hash;
    }

    // The slot that holds the fingerprint, or the empty one where it would go.
    uint64_t& SlotOf(uint64_t fingerprint) const {
        size_t index = static_cast<size_t>(fingerprint) & (Capacity - 1);
        while (Slots[index] != Empty && Slots[index] != fingerprint) {
            index = (index + 1) & (Capacity - 1);
        }
        return Slots[index];
    }

    bool Grow() {
        const size_t oldCapacity = Capacity;
        uint64_t* oldSlots = Slots;
        const size_t newCapacity = Capacity == 0 ? 1024 : Capacity * 2;
        Slots = new (std::nothrow) uint64_t[newCapacity]();
        if (Slots == nullptr) {
            Slots = oldSlots;
            return false;
        }
        Capacity = newCapacity;
        for (size_t index = 0; index < oldCapacity; ++index) {
            if (oldSlots[index] != Empty) {
                SlotOf(oldSlots[index]) = oldSlots[index];
            }
        }
        delete[] oldSlots;
        return true;
    }

    uint64_t* Slots = nullptr;
    size_t Capacity = 0;
    size_t Count = 0;
};

PackageManager* Instance = nullptr;
void (*WaitNotice)() = nullptr;
void (*DamagedIndexNotice)(const char*, const char*) = nullptr;

// A copy of a damaged index gets the first of these names that is free.
constexpr int MostDamagedCopies = 9999;

void ReleaseInstanceAtExit() { PackageManager::ReleaseInstance(); }

// Reads an open file whole, in one piece of its known size: parsed straight
// from the disk, every field of every record would be a read call. False
// when it could not be read whole.
bool ReadWholeFile(FileClass& file, std::string& bytes) {
    const int size = file.Size();
    if (size < 0) {
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (file.Read(bytes.data(), size) != size) {
        bytes.clear();
        return false;
    }
    return true;
}

// The bytes as a file that a chunk reader can read from its start; false
// when memory ran out.
bool FillMemoryFile(MemoryFile& contents, const std::string& bytes) {
    const int size = static_cast<int>(bytes.size());
    if (!contents.Reserve(size) || contents.Write(bytes.data(), size) != size) {
        return size == 0;
    }
    contents.Seek(0, FileClass::FromStart);
    return true;
}

// False when memory ran out.
bool InsertContentPaths(PathSet& used, const Package& package, DirectoryStructure& layout) {
    for (int fileIndex = 0; fileIndex < package.GetFileCount(); ++fileIndex) {
        if (!used.Insert(layout.GetContentFilePath(package.GetFileInfo(fileIndex)))) {
            return false;
        }
    }
    return true;
}

// How reading a package-info file of the store ended.
enum class InfoFileRead { Missing, Read, Unreadable, OutOfMemory };

// Reads the package-info file at the store path whole and its record from it.
InfoFileRead ReadPackageInfoFile(Filesystem& store, const char* path, std::unique_ptr<Package>& package) {
    if (!store.FileExists(path)) {
        return InfoFileRead::Missing;
    }
    FileClass* file = store.GetFile(path);
    std::string bytes;
    const bool readable = file->Open(FileClass::ReadOnly) && ReadWholeFile(*file, bytes);
    store.ReturnFile(file);
    if (!readable) {
        return InfoFileRead::Unreadable;
    }
    MemoryFile contents;
    if (!FillMemoryFile(contents, bytes)) {
        return InfoFileRead::OutOfMemory;
    }
    ChunkReader reader(&contents);
    package.reset(new (std::nothrow) Package(reader));
    return package != nullptr ? InfoFileRead::Read : InfoFileRead::OutOfMemory;
}

// Hands the record of every package-info file in the store to `visit`, also
// past one that cannot be read. False when they cannot all be read (the
// folder exists but cannot be listed, a file in it cannot be read, or memory
// ran out) or `visit` said so; `unreadable` then names the folder or the
// first file that could not be read.
bool VisitPackageInfoFiles(Filesystem& store, DirectoryStructure& layout,
                           const std::function<bool(const Package&)>& visit, StringClass& unreadable) {
    const StringClass folder = layout.GetPackageInfoFolder();
    std::vector<std::string> names;
    if (!store.ListFolder(folder, names)) {
        if (!store.FileExists(folder)) {
            return true;
        }
        unreadable = folder;
        return false;
    }
    // Only names of the form the store gives package-info files are read: such
    // a name cannot lead out of the folder it was listed in.
    std::sort(names.begin(), names.end());
    bool allRead = true;
    for (const std::string& name : names) {
        if (!DirectoryStructure::IsPackageInfoFileName(name)) {
            continue;
        }
        const StringClass path = layout.GetPackageInfoPath(name.c_str());
        std::unique_ptr<Package> package;
        switch (ReadPackageInfoFile(store, path, package)) {
            case InfoFileRead::Missing:
                continue;
            case InfoFileRead::Unreadable:
                if (allRead) {
                    unreadable = path;
                }
                allRead = false;
                continue;
            case InfoFileRead::OutOfMemory:
                return false;
            case InfoFileRead::Read:
                break;
        }
        if (!visit(*package)) {
            return false;
        }
    }
    return allRead;
}

}  // namespace

PackageManager::PackageManager(FlatFilesystem& store, DirectoryStructure& layout)
    : Store(store), Layout(layout), Durable(store, layout) {}

PackageManager::~PackageManager() {
    for (int index = 0; index < packages.Count(); ++index) {
        delete packages[index];
    }
}

PackageManager& PackageManager::GetInstance() {
    static bool exitHandlerRegistered = false;
    if (Instance == nullptr) {
        FlatFilesystem& store = GetStoreFilesystem();
        Instance = new PackageManager(store, GetDirectoryStructure());
        if (LockStore(store, Instance->StoreLock)) {
            Instance->Load();
        } else {
            Instance->State = IndexState::Unavailable;
        }
        // Registered after the store filesystem exists, so it runs before that
        // is destroyed.
        if (!exitHandlerRegistered) {
            exitHandlerRegistered = std::atexit(ReleaseInstanceAtExit) == 0;
        }
    }
    return *Instance;
}

void PackageManager::SetWaitNotice(void (*notice)()) { WaitNotice = notice; }

void PackageManager::SetDamagedIndexNotice(void (*notice)(const char*, const char*)) { DamagedIndexNotice = notice; }

// Two programs that load the same index and save it at exit would each write
// back only what they knew: the second save would drop what the first one
// registered. A store on a file system that cannot lock files at all is used
// without the lock.
bool PackageManager::LockStore(FlatFilesystem& store, platform::FileLock& lock) {
    DurableStore durable(store, GetDirectoryStructure());
    if (!durable.MakeStoreFolder()) {
        return false;
    }
    const StringClass lockPath = store.GetFullPath(LockFileName);
    if (!lock.Lock(lockPath, WaitNotice) && !lock.LockingUnsupported()) {
        return NoteStoreFailure(FormatString("lock %s", QuotedPath(lockPath).Peek()));
    }
    return durable.SyncStoreFolder();
}

bool PackageManager::ReleaseInstance() {
    if (Instance == nullptr) {
        return true;
    }
    PackageManager* manager = Instance;
    Instance = nullptr;
    // After a failed save the command has reported its failure and left the
    // index as it was; saving what it left in memory now would undo that. An
    // index that could not be read is never written.
    const bool saved = manager->State == IndexState::Unreadable || manager->State == IndexState::Unavailable ||
                       (manager->State != IndexState::SaveFailed && manager->Save());
    delete manager;
    return saved;
}

void PackageManager::Load() {
    const StringClass path = Layout.GetDatabasePath();
    FileClass* file = Store.GetFile(path);
    if (file->Open(FileClass::ReadOnly)) {
        if (!ReadIndex(*file)) {
            State = IndexState::Unreadable;
        }
        file->Close();
    } else if (Store.FileExists(path)) {
        // Only a missing index is an empty registry.
        State = IndexState::Unreadable;
    }
    Store.ReturnFile(file);
}

// Reads the whole index, keeps its bytes and reads the packages from them.
// False when it could not be read whole.
bool PackageManager::ReadIndex(FileClass& file) {
    MemoryFile contents;
    if (!ReadWholeFile(file, IndexBytes) || !FillMemoryFile(contents, IndexBytes)) {
        IndexBytes.clear();
        return false;
    }
    ChunkReader reader(&contents);
    while (reader.OpenChunk()) {
        Package* package = new (std::nothrow) Package(reader);
        if (package != nullptr && !packages.Add(package)) {
            delete package;
        }
        reader.CloseChunk();
    }
    // Lossless when the packages, written back, give the very same bytes:
    // anything the reader skipped or cut would be lost by the next save. They
    // are written over the copy they were read from, which is done with.
    contents.Seek(0, FileClass::FromStart);
    const bool rewritten = WriteIndex(contents);
    const int rewrittenLength = contents.Seek(0, FileClass::FromCurrent);
    const bool lossless = rewritten && HoldsLoadedBytes(contents.GetData(), rewrittenLength);
    State = lossless ? IndexState::Matching : IndexState::Damaged;
    return true;
}

bool PackageManager::WriteIndex(MemoryFile& contents) const {
    ChunkWriter writer(&contents);
    bool complete = true;
    for (int index = 0; index < packages.Count(); ++index) {
        complete &= writer.BeginChunk(IndexChunkId);
        complete &= packages[index]->Save(writer);
        complete &= writer.EndChunk();
    }
    return complete;
}

bool PackageManager::HoldsLoadedBytes(const char* bytes, int length) const {
    const size_t size = static_cast<size_t>(length);
    return size == IndexBytes.size() && (size == 0 || std::memcmp(bytes, IndexBytes.data(), size) == 0);
}

bool PackageManager::Save() {
    // The packages are changed only by adding and removing them: unchanged
    // since a lossless load or the last save, they are what the index holds.
    if (State == IndexState::Matching) {
        return true;
    }
    if (State == IndexState::Unreadable || State == IndexState::SaveFailed || State == IndexState::Unavailable) {
        return false;
    }
    MemoryFile contents;
    contents.Reserve(static_cast<int>(IndexBytes.size()));
    if (!WriteIndex(contents)) {
        State = IndexState::SaveFailed;
        return false;
    }
    // A save that would write what is already there writes nothing: the index
    // keeps its file, its time and the disk its quiet.
    if (State == IndexState::Changed && HoldsLoadedBytes(contents.GetData(), contents.Size())) {
        State = IndexState::Matching;
        return true;
    }
    StringClass copyPath;
    if (State == IndexState::Damaged && !KeepDamagedIndex(copyPath)) {
        State = IndexState::SaveFailed;
        return false;
    }
    // The old index is replaced only by a new one known to be whole, and the
    // save counts only once the replacement is durable.
    if (!Durable.ReplaceWhole(Layout.GetDatabasePath(), contents.GetData(), contents.Size())) {
        State = IndexState::SaveFailed;
        return false;
    }
    IndexBytes.assign(contents.GetData(), static_cast<size_t>(contents.Size()));
    State = IndexState::Matching;
    if (!copyPath.IsEmpty() && DamagedIndexNotice != nullptr) {
        DamagedIndexNotice(Layout.GetDatabasePath(), copyPath);
    }
    return true;
}

// Keeps the bytes of the index as it was loaded under the first free name of
// "packages.dat.damaged", ".damaged.2", ..., durably, before anything
// replaces the index.
bool PackageManager::KeepDamagedIndex(StringClass& copyPath) {
    for (int number = 1; number <= MostDamagedCopies; ++number) {
        const StringClass candidate = Layout.GetDamagedIndexPath(number);
        if (Store.FileExists(candidate)) {
            continue;
        }
        if (!Durable.AddWhole(candidate, IndexBytes.data(), static_cast<int>(IndexBytes.size()))) {
            return false;
        }
        copyPath = candidate;
        return true;
    }
    return false;
}

Package* PackageManager::FindPackage(uint32_t id) const {
    for (int index = 0; index < packages.Count(); ++index) {
        if (HashName(packages[index]->GetName()) == id) {
            return packages[index];
        }
    }
    return nullptr;
}

Package* PackageManager::AddPackage(ChunkReader& reader) {
    Package* package = new Package(reader);
    if (!packages.Add(package)) {
        delete package;
        return nullptr;
    }
    NoteChange();
    return package;
}

Package* PackageManager::AddPackageInfo(FileClass& file, const char* name, StringClass& recordName) {
    recordName = "";
    if (Package::IsCutShort(file)) {
        return nullptr;
    }
    ChunkReader reader(&file);
    Package* package = new (std::nothrow) Package(reader);
    if (package != nullptr) {
        recordName = package->GetName();
    }
    if (package == nullptr || package->GetName().IsEmpty() || !package->HasName(name) || !package->HasPossibleSizes() ||
        !packages.Add(package)) {
        delete package;
        return nullptr;
    }
    NoteChange();
    return package;
}

bool PackageManager::ReadPackageInfoName(uint32_t id, StringClass& name) {
    name = "";
    const StringClass path = Layout.GetPackageInfoPath(DirectoryStructure::GetPackageInfoFileName(id));
    std::unique_ptr<Package> package;
    const InfoFileRead read = ReadPackageInfoFile(Store, path, package);
    if (read == InfoFileRead::Read) {
        name = package->GetName();
    }
    return read == InfoFileRead::Read || read == InfoFileRead::Missing;
}

bool PackageManager::RemovePackage(Package* package) {
    const bool removed = packages.Delete(package);
    if (removed) {
        NoteChange();
    }
    return removed;
}

// An index that is missing or damaged must be written whatever changes, and
// one that is not to be written stays so.
void PackageManager::NoteChange() {
    if (State == IndexState::Matching) {
        State = IndexState::Changed;
    }
}

bool PackageManager::VisitStorePackages(const std::function<bool(const Package&)>& visit, StringClass& unreadable) {
    unreadable = "";
    for (int index = 0; index < packages.Count(); ++index) {
        if (!visit(*packages[index])) {
            return false;
        }
    }
    return VisitPackageInfoFiles(Store, Layout, visit, unreadable);
}

// A package-info file that holds a record of another name, of the same
// identifier, is that other package's (a converted one that cannot be
// installed beside this one), and one that cannot be read may be: both stay.
bool PackageManager::RemovePackageFiles(const char* name, StringClass& unreadable) {
    unreadable = "";
    const uint32_t id = HashName(name);
    StringClass recordName;
    const bool own =
        ReadPackageInfoName(id, recordName) && (recordName.IsEmpty() || EqualsIgnoringAsciiCase(recordName, name));
    const StringClass infoPath =
        own ? Layout.GetPackageInfoPath(DirectoryStructure::GetPackageInfoFileName(id)) : StringClass();
    return Durable.RemovePackageFiles(
        infoPath, [this, &unreadable](std::vector<std::string>& names) { return ListUnusedFiles(names, unreadable); });
}

// The names in the content folder that are not in use. A set that misses a
// path would delete a file still in use, so none is named unless every
// listed path made it in.
bool PackageManager::ListUnusedFiles(std::vector<std::string>& names, StringClass& unreadable) {
    names.clear();
    PathSet used;
    const bool allKnown = VisitStorePackages(
        [this, &used](const Package& package) { return InsertContentPaths(used, package, Layout); }, unreadable);
    if (!allKnown) {
        return false;
    }
    const StringClass folder = Layout.GetContentFolder();
    std::vector<std::string> listed;
    if (!Store.ListFolder(folder, listed)) {
        return true;
    }
    std::string path = std::string(folder.Peek()) + "/";
    const size_t prefixLength = path.size();
    for (std::string& name : listed) {
        if (name.empty() || name[0] == '.') {
            continue;
        }
        path.resize(prefixLength);
        path += name;
        if (!used.Contains(path.c_str())) {
            names.push_back(std::move(name));
        }
    }
    return true;
}
