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

class FileClass;
class FlatFilesystem;

// Files written into one folder of the store under temporary names, whose
// final names are held back until their data is on the disk: a name in the
// store must never stand for bytes that a power cut can take back. Commit
// forces the data of every held file at once, gives each its final name
// (replacing a file of that name) and then syncs the folder, so that the
// names are durable too. The download worker holds files while the main
// thread commits, so both go through one lock.
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
    bool Hold(FileClass& file, const char* temporaryPath, const char* finalPath, int64_t size);
    // True when a held file is to take this name.
    bool Holds(const char* finalPath);
    bool HoldsAny();
    // True when the held files are large enough or have waited long enough.
    bool IsDue();
    // Forces the held files, gives them their names and syncs the folder, also
    // when nothing is held (an earlier program may have placed names there that
    // were never synced). False when a file held since the last Commit did not
    // get its name durably; such a file is deleted.
    bool Commit();

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
    // For the next file.
    void Reset() { Written = Started = 0; }

private:
    int64_t Written = 0;
    int64_t Started = 0;
};

// The batch of the content folder that the download tasks share.
DurableBatch& GetContentBatch();
