#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "foundation/CriticalSection.h"
#include "foundation/StringClass.h"
#include "platform/FileSystem.h"

class DirectoryStructure;
class FileClass;
class FlatFilesystem;

// How the store keeps what it reports through a crash or a power cut. Every
// name of a store file is given, replaced and taken away in this unit, by the
// rules below; only temporary files are written and deleted by their writers
// (one that a power cut brings back is a leftover, which the next cleanup
// removes).
//
// 1. Data before name. A file is written whole under a temporary name and
//    takes its final name only once its data is forced to the disk: a name in
//    the store never stands for bytes that a power cut can take back.
// 2. Names synced. A name created, replaced or deleted is a change of its
//    folder, and the folder is synced before anything relies on the change.
//    A folder that is not there holds no name to sync. A new folder's name is
//    synced into its parent before anything is put into it.
// 3. What a file refers to is durable before the file. Content files are on
//    the disk before the package-info file or the index entry that lists them
//    and before a download reports them; the copy of a damaged index is on
//    the disk before the index that replaces it. The other way round, a
//    package-info file is durably gone before a content file it lists is
//    deleted: brought back by a power cut, it would list files that are no
//    more.
// 4. A force covers only its own file system. A group of files, all in one
//    folder, is forced with one force of that folder's file system (which
//    may not be the store's), and file by file where such a force does not
//    reach the disk (platform::DataForcer); a single file is forced by itself.
// 5. A temporary name is never a name that the store gives a file
//    (DirectoryStructure), so that writing, renaming or deleting one cannot
//    touch a listed file. A temporary file is always created new
//    (FileClass::WriteNew): whatever a crash or someone else left under its
//    name is removed first, so that a link planted there leads no write out
//    of the store. The one exception is a download's part file that an
//    interrupted run left: it is continued, but only as a regular file with
//    no other link (FileClass::ContinueOwn), and its data, the old bytes
//    included, is forced whole before it is named, like any other.
// 6. Before a command reports, the store folder is durable, with whatever an
//    earlier program changed there without syncing it.

// Files written into one folder of the store under temporary names, whose
// final names are held back until their data is on the disk (rules 1, 2, 4).
// Commit forces the data of every held file at once, gives each its final
// name (replacing a file of that name) and then syncs the folder. The download
// worker holds files while the main thread commits, so both go through one
// lock.
class DurableBatch {
public:
    // Held files wait at most this long, or until this much is held, before
    // they should get their names: a program killed meanwhile costs only the
    // work of that group.
    static constexpr int64_t DueBytes = int64_t{64} << 20;
    static constexpr std::chrono::milliseconds DueAge{1000};

    // A batch for files of the store-relative folder; it is begun before the
    // first of them is written, so that a failed write-back is seen.
    DurableBatch(FlatFilesystem& store, const char* folder);
    // Deletes the files still held: without a Commit they get no name.
    ~DurableBatch();
    DurableBatch(const DurableBatch&) = delete;
    DurableBatch& operator=(const DurableBatch&) = delete;

    // The file at temporaryPath, still open and written whole with size bytes,
    // takes finalPath at the next Commit; it is closed here, so that no Commit
    // moves a file that is still open. False when its data cannot be forced:
    // it is not held then, and the caller deletes it.
    [[nodiscard]] bool Hold(FileClass& file, const char* temporaryPath, const char* finalPath, int64_t size);
    // True when a held file is to take this name.
    bool Holds(const char* finalPath);
    bool HoldsAny();
    // True when the held files are large enough or have waited long enough.
    bool IsDue();
    // Forces the held files, gives them their names and syncs the folder, also
    // when nothing is held (an earlier program may have placed names there that
    // were never synced). False when a file held since the last Commit did not
    // get its name durably; such a file is deleted.
    [[nodiscard]] bool Commit();

private:
    struct HeldFile {
        StringClass temporaryPath;
        StringClass finalPath;
    };

    FlatFilesystem& Store;
    StringClass Folder;
    CriticalSection Lock;
    platform::DataForcer Forcer;
    std::vector<HeldFile> Held;
    // Looked up without a copy of the path (names are long enough to be
    // allocated, and every member of a conversion asks).
    struct PathHash {
        using is_transparent = void;
        size_t operator()(std::string_view path) const { return std::hash<std::string_view>()(path); }
    };
    std::unordered_set<std::string, PathHash, std::equal_to<>> FinalPaths;
    int64_t HeldBytes = 0;
    std::chrono::steady_clock::time_point FirstHeld;
};

// Starts the write-back of a file that is being written piece by piece every
// few MiB, so that the disk works while the rest arrives and the batch's force
// finds little left. Small files never reach the pace: one force of the
// batch writes them together, which is cheaper than a write-back each.
class WriteBackPacer {
public:
    static constexpr int64_t Pace = int64_t{8} << 20;

    // Called after each successful write of count bytes to the file.
    void Wrote(const FileClass& file, int count);
    // For the next file, of which `held` bytes are there already (their
    // write-back starts with the next pace).
    void Reset(int64_t held = 0) {
        Written = held;
        Started = 0;
    }

private:
    int64_t Written = 0;
    int64_t Started = 0;
};

// The store's single files, its deletions and the store folder itself, by the
// rules above.
class DurableStore {
public:
    DurableStore(FlatFilesystem& store, DirectoryStructure& layout) : Store(store), Layout(layout) {}

    // Makes the store folder, each new folder's name synced into its parent,
    // before a command locks the store. A store folder found empty may have
    // been made by a program that stopped before syncing its name, so its
    // parent is synced as well. False when that failed.
    [[nodiscard]] bool MakeStoreFolder();
    // Syncs the store folder, once the store is locked and before anything is
    // read or reported (rule 6). False when that failed.
    [[nodiscard]] bool SyncStoreFolder();

    // Puts the bytes in the place of the file at path (made if missing) in one
    // step: readers see the old or the new file, never a part of one. False
    // when that is not durable; where the new file did not take the name, the
    // old one is left as it was.
    [[nodiscard]] bool ReplaceWhole(const char* path, const char* bytes, int length);
    // Writes the bytes as a new file at path; false when a file of that name
    // exists or the new one is not durable.
    [[nodiscard]] bool AddWhole(const char* path, const char* bytes, int length);

    // Takes a package's package-info file away (none when the path is empty)
    // and then the content files that `listUnused` names once it is gone
    // (names in the content folder), in that order (rule 3). False when that
    // could not be made durable or `listUnused` failed; no content file is
    // deleted before the package-info file is durably gone.
    [[nodiscard]] bool RemovePackageFiles(const char* infoPath,
                                          const std::function<bool(std::vector<std::string>&)>& listUnused);
    // Takes away the leftover of a temporary name (a program stopped while
    // writing it) and syncs its folder, before a new file is created under
    // the name: otherwise a power cut could drop the removal and the creation
    // but keep the rename that follows, which would give the old leftover the
    // final name. False when the leftover cannot be taken away durably; true
    // when there is none.
    [[nodiscard]] bool ClearLeftover(const char* temporaryPath);
    // Deletes the names of the content folder and syncs it; false when that
    // is not durable.
    [[nodiscard]] bool DeleteContentFiles(const std::vector<std::string>& names);

private:
    bool PlaceWhole(const char* path, const char* bytes, int length, bool replace);
    bool WriteTemporary(const char* temporaryPath, const char* bytes, int length);

    FlatFilesystem& Store;
    DirectoryStructure& Layout;
};

// Makes the folder and every missing folder above it, outermost first, each
// new name synced into its parent (rule 2); false when a folder could not be
// made or its name not synced.
[[nodiscard]] bool MakeFolders(const char* folder);
// Creates every missing folder above the path, outermost first, and makes
// each new folder's name durable before anything is put into it (MakeFolders);
// false when a folder could not be made durably.
[[nodiscard]] bool CreateParentFolders(const char* path);
// Syncs the names of a store folder; true when the folder is not there, as it
// then holds no name to sync (a store that has only downloaded has no
// packages/ folder).
[[nodiscard]] bool SyncNamesOf(FlatFilesystem& store, const char* folder);

// The batch of the content folder that the download tasks share.
DurableBatch& GetContentBatch();
