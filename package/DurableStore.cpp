#include "package/DurableStore.h"

#include "file/FileClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"

DurableBatch::DurableBatch(FlatFilesystem& store, const char* folder) : Store(store), Folder(folder) {
    Forcer.Open(store.GetFullPath(folder));
}

DurableBatch::~DurableBatch() {
    for (const HeldFile& held : Held) {
        Store.DeleteFile(held.temporaryPath);
    }
}

bool DurableBatch::Hold(FileClass& file, const char* temporaryPath, const char* finalPath, int64_t size) {
    ScopedLock guard(Lock);
    const bool included = file.IsOpen() && Forcer.Include(file.GetFileHandle());
    file.Close();
    if (!included) {
        return false;
    }
    if (Held.empty()) {
        FirstHeld = std::chrono::steady_clock::now();
    }
    Held.push_back({temporaryPath, finalPath});
    FinalPaths.insert(finalPath);
    HeldBytes += size;
    return true;
}

bool DurableBatch::Holds(const char* finalPath) {
    ScopedLock guard(Lock);
    return FinalPaths.find(std::string_view(finalPath)) != FinalPaths.end();
}

bool DurableBatch::IsDue() {
    ScopedLock guard(Lock);
    return !Held.empty() && (HeldBytes >= DueBytes || std::chrono::steady_clock::now() - FirstHeld >= DueAge);
}

bool DurableBatch::HoldsAny() {
    ScopedLock guard(Lock);
    return !Held.empty();
}

bool DurableBatch::Commit() {
    ScopedLock guard(Lock);
    // The data goes first: renamed before it is durable, a name could stand
    // for an empty or cut file after a power cut.
    const bool forced = Held.empty() || Forcer.Force();
    bool placed = forced;
    for (const HeldFile& held : Held) {
        if (!forced || !Store.ReplaceFile(held.temporaryPath, held.finalPath)) {
            Store.DeleteFile(held.temporaryPath);
            placed = false;
        }
    }
    Held.clear();
    FinalPaths.clear();
    HeldBytes = 0;
    return Store.SyncFolder(Folder) && placed;
}

void WriteBackPacer::Wrote(const FileClass& file, int count) {
    Written += count;
    if (Written - Started >= Pace) {
        platform::StartWriteBack(file.GetFileHandle(), Started, Written - Started);
        Started = Written;
    }
}

namespace {

bool IsEmptyFolder(const char* folder) {
    std::vector<std::string> names;
    return platform::ListFolder(folder, names) && names.size() <= 2;
}

// The folder that holds the name of `folder`.
StringClass ParentFolder(const char* folder) {
    const StringClass parent = GetParentPath(folder);
    if (!parent.IsEmpty()) {
        // "C:" alone means the current folder of that drive.
        return parent[parent.GetLength() - 1] == ':' ? parent + "\\" : parent;
    }
    return folder[0] == '/' || folder[0] == '\\' ? StringClass("/") : StringClass(".");
}

// A folder's name is synced into its parent before anything is put into it,
// so only an empty folder may be one that a program made and was stopped
// before syncing its name.
void SyncParentOfEmptyFolder(const char* folder) {
    if (IsEmptyFolder(folder)) {
        platform::SyncFolder(ParentFolder(folder));
    }
}

}  // namespace

void MakeFolders(const char* folder) {
    const StringClass parent = GetParentPath(folder);
    if (!parent.IsEmpty()) {
        if (platform::PathExists(parent)) {
            SyncParentOfEmptyFolder(parent);
        } else {
            MakeFolders(parent);
        }
    }
    if (platform::CreateFolder(folder)) {
        platform::SyncFolder(ParentFolder(folder));
    }
}

DurableBatch& GetContentBatch() {
    static DurableBatch batch(GetStoreFilesystem(), GetDirectoryStructure().GetContentFolder());
    return batch;
}

void DurableStore::MakeStoreFolder() {
    const StringClass& root = Store.GetRoot();
    if (platform::PathExists(root)) {
        SyncParentOfEmptyFolder(root);
    } else {
        MakeFolders(root);
    }
}

bool DurableStore::SyncStoreFolder() { return Store.SyncFolder(""); }

bool DurableStore::ReplaceWhole(const char* path, const char* bytes, int length) {
    return PlaceWhole(path, bytes, length, true);
}

bool DurableStore::AddWhole(const char* path, const char* bytes, int length) {
    return PlaceWhole(path, bytes, length, false);
}

bool DurableStore::PlaceWhole(const char* path, const char* bytes, int length, bool replace) {
    const StringClass temporaryPath = Layout.GetTemporaryPath(path);
    if (!WriteTemporary(temporaryPath, bytes, length)) {
        return false;
    }
    const bool named = replace ? Store.ReplaceFile(temporaryPath, path) : Store.MoveFile(temporaryPath, path);
    if (!named) {
        Store.DeleteFile(temporaryPath);
        return false;
    }
    return Store.SyncFolder(GetParentPath(path));
}

// Writes the bytes whole and forces them onto the disk; the file is removed
// again when that fails.
bool DurableStore::ClearLeftover(const char* temporaryPath) {
    if (!Store.FileExists(temporaryPath)) {
        return true;
    }
    Store.DeleteFile(temporaryPath);
    return !Store.FileExists(temporaryPath) && Store.SyncFolder(GetParentPath(temporaryPath));
}

bool DurableStore::WriteTemporary(const char* temporaryPath, const char* bytes, int length) {
    if (!ClearLeftover(temporaryPath)) {
        return false;
    }
    FileClass* file = Store.GetFile(temporaryPath);
    file->Open(FileClass::WriteNew);
    const bool complete = file->IsOpen() && file->Write(bytes, length) == length && Store.FlushFile(file);
    if (file->IsOpen()) {
        file->Close();
    }
    Store.ReturnFile(file);
    if (!complete) {
        Store.DeleteFile(temporaryPath);
    }
    return complete;
}

// A package-info file that cannot be deleted still lists its files, so the
// cleanup that follows keeps them; a missing one is no error.
bool DurableStore::RemovePackageFiles(const char* infoPath,
                                      const std::function<bool(std::vector<std::string>&)>& listUnused) {
    if (infoPath[0] != 0) {
        Store.DeleteFile(infoPath);
        if (!Store.SyncFolder(GetParentPath(infoPath))) {
            return false;
        }
    }
    std::vector<std::string> unused;
    return listUnused(unused) && DeleteContentFiles(unused);
}

// The listed name itself is deleted, never read back as a path: a name that
// holds separators or ".." must not reach another folder.
bool DurableStore::DeleteContentFiles(const std::vector<std::string>& names) {
    const StringClass folder = Layout.GetContentFolder();
    for (const std::string& name : names) {
        Store.DeleteListedFile(folder, name.c_str());
    }
    return names.empty() || Store.SyncFolder(folder);
}
