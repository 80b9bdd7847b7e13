#include "package/DurableBatch.h"

#include "file/FileClass.h"
#include "package/FlatFilesystem.h"

DurableBatch::DurableBatch(FlatFilesystem& store, const char* folder) : Store(store), Folder(folder) {
    Forcer.Open(store.GetRoot());
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

DurableBatch& GetContentBatch() {
    static DurableBatch batch(GetStoreFilesystem(), "files");
    return batch;
}
