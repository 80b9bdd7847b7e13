#include "package/PackageManager.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "file/ChunkReader.h"
#include "foundation/HashName.h"
#include "foundation/StringClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageInfoFiles.h"
#include "package/StoreFailure.h"
#include "package/UnusedContentFiles.h"

namespace {

PackageManager* Instance = nullptr;
void (*WaitNotice)() = nullptr;
void (*DamagedIndexNotice)(const char*, const char*) = nullptr;

void ReleaseInstanceAtExit() { PackageManager::ReleaseInstance(); }

}  // namespace

PackageManager::PackageManager(FlatFilesystem& store, DirectoryStructure& layout)
    : Store(store), Layout(layout), Durable(store, layout), Index(store, layout, Durable) {}

PackageManager::~PackageManager() {
    for (int index = 0; index < packages.Count(); ++index) {
        delete packages[index];
    }
}

PackageManager& PackageManager::GetInstance() { return Instance != nullptr ? *Instance : CreateInstance(true); }

PackageManager& PackageManager::GetReaderInstance() { return Instance != nullptr ? *Instance : CreateInstance(false); }

PackageManager& PackageManager::CreateInstance(bool locked) {
    static bool exitHandlerRegistered = false;
    FlatFilesystem& store = GetStoreFilesystem();
    Instance = new PackageManager(store, GetDirectoryStructure());
    if (!locked) {
        Instance->Index.NoteReadOnly();
        Instance->Load();
        // Read first, then synced: an index that a stopped program renamed
        // into place without syncing is made durable before it is reported.
        if (Instance->CouldReadIndex() && !SyncNamesOf(store, "")) {
            Instance->Index.NoteStoreUnavailable();
        }
    } else if (LockStore(store, Instance->StoreLock)) {
        Instance->Load();
    } else {
        Instance->Index.NoteStoreUnavailable();
    }
    // Registered after the store filesystem exists, so it runs before that
    // is destroyed.
    if (!exitHandlerRegistered) {
        exitHandlerRegistered = std::atexit(ReleaseInstanceAtExit) == 0;
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
    const bool saved = manager->Index.IsNeverWritten() || (!manager->Index.HasFailedSave() && manager->Save());
    delete manager;
    return saved;
}

void PackageManager::Load() { Index.Load(packages); }

bool PackageManager::Save() {
    StringClass copyPath;
    const bool saved = Index.Save(packages, copyPath);
    if (saved && !copyPath.IsEmpty() && DamagedIndexNotice != nullptr) {
        DamagedIndexNotice(Layout.GetDatabasePath(), copyPath);
    }
    return saved;
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
    Index.NoteChange();
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
    Index.NoteChange();
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
        Index.NoteChange();
    }
    return removed;
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
    UnusedContentFiles unused(Store, Layout);
    if (!VisitStorePackages([&unused](const Package& package) { return unused.NoteInUse(package); }, unreadable)) {
        return false;
    }
    names = unused.List();
    return true;
}
