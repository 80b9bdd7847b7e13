#include "package/DurableStore.h"

#include "file/FileClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/StoreFailure.h"

DurableBatch::DurableBatch(FlatFilesystem& store, const char* folder) : Store(store), Folder(folder) {
    // A forcer that did not open fails every file it is given, so the note is
    // all that is left to do here.
    const StringClass full = store.GetFullPath(folder);
    if (!Forcer.Open(full)) {
        NoteStoreFailure(FormatString("open the folder %s", QuotedPath(full).Peek()));
    }
}

DurableBatch::~DurableBatch() {
    for (const HeldFile& held : Held) {
        Store.DeleteFile(held.temporaryPath);
    }
}

bool DurableBatch::Hold(FileClass& file, const char* temporaryPath, const char* finalPath, int64_t size) {
    ScopedLock guard(Lock);
    const bool included =
        file.IsOpen() &&
        (Forcer.Include(file.GetFileHandle()) ||
         NoteStoreFailure(FormatString("force %s to the disk", QuotedPath(file.GetFileName()).Peek())));
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
    const bool nothingHeld = Held.empty();
    const bool forced = nothingHeld || Forcer.Force() ||
                        NoteStoreFailure(FormatString("force the files written into %s to the disk",
                                                      QuotedPath(Store.GetFullPath(Folder)).Peek()));
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
    return (nothingHeld ? SyncNamesOf(Store, Folder) : Store.SyncFolder(Folder)) && placed;
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

bool SyncNativeFolder(const char* folder) {
    return platform::SyncFolder(folder) ||
           NoteStoreFailure(FormatString("sync the folder %s", QuotedPath(folder).Peek()));
}

// A folder's name is synced into its parent before anything is put into it,
// so only an empty folder may be one that a program made and was stopped
// before syncing its name.
bool SyncParentOfEmptyFolder(const char* folder) {
    return !IsEmptyFolder(folder) || SyncNativeFolder(ParentFolder(folder));
}

}  // namespace

bool CreateParentFolders(const char* path) {
    if (path == nullptr || path[0] == 0) {
        return true;
    }
    const StringClass parent = GetParentPath(path);
    return parent.IsEmpty() || platform::PathExists(parent) || MakeFolders(parent);
}

bool SyncNamesOf(FlatFilesystem& store, const char* folder) {
    return !store.FileExists(folder) || store.SyncFolder(folder);
}

bool MakeFolders(const char* folder) {
    const StringClass parent = GetParentPath(folder);
    if (!parent.IsEmpty()) {
        const bool parentReady = platform::PathExists(parent) ? SyncParentOfEmptyFolder(parent) : MakeFolders(parent);
        if (!parentReady) {
            return false;
        }
    }
    if (!platform::CreateFolder(folder)) {
        return NoteStoreFailure(FormatString("create the folder %s", QuotedPath(folder).Peek()));
    }
    return SyncNativeFolder(ParentFolder(folder));
}

DurableBatch& GetContentBatch() {
    static DurableBatch batch(GetStoreFilesystem(), GetDirectoryStructure().GetContentFolder());
    return batch;
}

bool DurableStore::MakeStoreFolder() {
    const StringClass& root = Store.GetRoot();
    return platform::PathExists(root) ? SyncParentOfEmptyFolder(root) : MakeFolders(root);
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
    if (!CreateParentFolders(Store.GetFullPath(path)) || !WriteTemporary(temporaryPath, bytes, length)) {
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
    if (Store.FileExists(temporaryPath)) {
        return NoteStoreFailure(FormatString("delete %s", QuotedPath(Store.GetFullPath(temporaryPath)).Peek()));
    }
    return Store.SyncFolder(GetParentPath(temporaryPath));
}

bool DurableStore::WriteTemporary(const char* temporaryPath, const char* bytes, int length) {
    if (!ClearLeftover(temporaryPath)) {
        return false;
    }
    FileClass* file = Store.GetFile(temporaryPath);
    const StringClass shown = QuotedPath(file->GetFileName());
    file->Open(FileClass::WriteNew);
    const bool complete =
        (file->IsOpen() || NoteStoreFailure(FormatString("create %s", shown.Peek()))) &&
        (file->Write(bytes, length) == length || NoteStoreFailure(FormatString("write %s", shown.Peek()))) &&
        Store.FlushFile(file);
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
        if (!SyncNamesOf(Store, GetParentPath(infoPath))) {
            return false;
        }
    }
    std::vector<std::string> unused;
    return listUnused(unused) && DeleteContentFiles(unused);
}

// The listed name itself is deleted, never read back as a path: a name that
// holds separators or ".." must not reach another folder. A name that cannot
// be deleted (a folder, a file held open) stays for the next cleanup: it
// costs room, never a listed file.
bool DurableStore::DeleteContentFiles(const std::vector<std::string>& names) {
    const StringClass folder = Layout.GetContentFolder();
    for (const std::string& name : names) {
        static_cast<void>(Store.DeleteListedFile(folder, name.c_str()));
    }
    return names.empty() || Store.SyncFolder(folder);
}
