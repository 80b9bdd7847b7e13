#pragma once

#include <cstdint>
#include <string>

#include "foundation/SimpleVecClass.h"

class DirectoryStructure;
class DurableStore;
class FileClass;
class FlatFilesystem;
class MemoryFile;
class Package;
class StringClass;

// The store's index file, one chunk per installed package, and where it
// stands against the packages in memory: whether a save has anything to
// write, must keep a damaged index first, or must not write at all.
class PackageIndex {
public:
    static constexpr uint32_t ChunkId = 0x50434B47;

    PackageIndex(FlatFilesystem& store, DirectoryStructure& layout, DurableStore& durable)
        : Store(store), Layout(layout), Durable(durable) {}

    // Appends every package the index holds; a missing index holds none.
    void Load(SimpleDynVecClass<Package*>& packages);
    // Writes the packages as the index (PackageManager::Save). When the save
    // succeeded after keeping a damaged index, `keptCopyPath` names the copy.
    [[nodiscard]] bool Save(const SimpleDynVecClass<Package*>& packages, StringClass& keptCopyPath);

    // A package was added or removed.
    void NoteChange();
    // The store could not be made, synced or locked: the index is never read
    // or written.
    void NoteStoreUnavailable() { Standing = State::Unavailable; }
    // The index is read without the store's lock: it is never written.
    void NoteReadOnly() { ReadOnly = true; }
    bool CouldRead() const { return Standing != State::Unreadable; }
    bool CouldUseStore() const { return Standing != State::Unavailable; }
    // True when it was read but holds bytes the packages do not give back.
    bool IsDamaged() const { return Standing == State::Damaged; }
    // True when the index is never to be written, so there is nothing to save.
    bool IsNeverWritten() const { return ReadOnly || !CouldRead() || !CouldUseStore(); }
    // True after a failed save: the index stays as it was for the rest of the run.
    bool HasFailedSave() const { return Standing == State::SaveFailed; }

private:
    enum class State {
        Absent,       // there is none: the first save writes one
        Matching,     // it holds exactly what the packages give
        Changed,      // a package was added or removed since it was read or written
        Damaged,      // it holds bytes the packages do not give back: a copy is kept before it is replaced
        Unreadable,   // it could not be read whole: it is never written
        SaveFailed,   // a save failed: it stays as it was for the rest of the run
        Unavailable,  // the store could not be locked and synced: it is never read or written
    };

    bool Read(FileClass& file, SimpleDynVecClass<Package*>& packages);
    static bool Write(const SimpleDynVecClass<Package*>& packages, MemoryFile& contents);
    bool HoldsLoadedBytes(const char* bytes, int length) const;
    bool ReplaceOnDisk(MemoryFile& contents, StringClass& keptCopyPath);
    bool KeepDamagedCopy(StringClass& copyPath);

    FlatFilesystem& Store;
    DirectoryStructure& Layout;
    DurableStore& Durable;
    // The bytes of the index as the last load or save left it on disk.
    std::string LoadedBytes;
    State Standing = State::Absent;
    bool ReadOnly = false;
};
