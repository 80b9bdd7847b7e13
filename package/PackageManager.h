#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/SimpleVecClass.h"
#include "package/DurableStore.h"
#include "package/PackageIndex.h"
#include "platform/FileLock.h"

class ChunkReader;
class DirectoryStructure;
class FileClass;
class FlatFilesystem;
class Package;
class StringClass;

// The registry of installed packages, kept in the store's index file. It owns
// every Package in its list; a package's identifier is HashName of its name.
class PackageManager {
public:
    static constexpr uint32_t IndexChunkId = PackageIndex::ChunkId;
    // Locked by the process-wide manager for its whole life. The leading dot
    // keeps the store's cleanup away from it.
    static constexpr const char* LockFileName = ".packages.lock";

    // A manager over a store and its layout, with an empty list.
    PackageManager(FlatFilesystem& store, DirectoryStructure& layout);
    // Deletes every package. The index is saved by whoever destroys the
    // manager (ReleaseInstance), so that a failed save can be reported.
    virtual ~PackageManager();
    PackageManager(const PackageManager&) = delete;
    PackageManager& operator=(const PackageManager&) = delete;

    // The process-wide manager over the store filesystem, loaded on first use.
    // It holds the store's lock from before the load until after the last
    // save, so two programs on one store never lose each other's changes.
    static PackageManager& GetInstance();
    // The process-wide manager of a command that only reads the index: it
    // takes no lock, so it never waits for another program and works on a
    // store it cannot write, and it never writes. The index is replaced whole,
    // so it reads the one the last finished save left; the store folder is
    // synced after the read, so that what is reported from it is durable.
    // GetInstance hands out the same manager afterwards.
    static PackageManager& GetReaderInstance();
    // Called once when GetInstance must wait for another program holding the
    // store's lock, before it waits; the front end tells the user with it.
    static void SetWaitNotice(void (*notice)());
    // Called when a save has kept the bytes of an index that did not load
    // whole, with the store paths of the index and of the copy.
    static void SetDamagedIndexNotice(void (*notice)(const char* indexPath, const char* copyPath));
    // Takes the lock of `store` into `lock`, waiting as GetInstance does, for
    // a command that writes to a store without the index. The store folder is
    // made first and synced once the lock is held, so that nothing an earlier
    // program left unsynced there is reported before it is durable. False,
    // with the failure noted (StoreFailure.h), when the folder cannot be made
    // or synced or the lock cannot be taken; a file system that cannot lock
    // files at all is used without the lock.
    [[nodiscard]] static bool LockStore(FlatFilesystem& store, platform::FileLock& lock);
    // Saves the index (unless a save of this process has already failed, or
    // the index could not be read) and destroys the process-wide manager,
    // when there is one; false when a save of this process failed. Runs at
    // normal exit when nobody did it earlier.
    static bool ReleaseInstance();

    // Appends every package the index holds; a missing index holds none.
    // GetInstance runs it once.
    void Load();
    // False when the index exists but could not be opened or read whole: the
    // manager then holds nothing and never writes the index.
    bool CouldReadIndex() const { return Index.CouldRead(); }
    // False when the store could not be made, synced or locked before the
    // load: the manager then holds nothing and never writes the index.
    bool CouldUseStore() const { return Index.CouldUseStore(); }
    // True when the index was read but holds bytes that the packages read
    // from it do not give back; the first save keeps a copy of it.
    bool HasDamagedIndex() const { return Index.IsDamaged(); }
    // Writes the index so that it is replaced whole or not at all; false when
    // it could not be written, and the old index is then left as it was. An
    // index that already holds exactly these bytes is left untouched. The
    // first save after a load that was not lossless (the index held bytes that
    // the packages read from it do not give back) first keeps the old index
    // as "packages.dat.damaged" (or .2, .3, ...), and fails when it cannot.
    bool Save();

    // The packages in list order. They are changed only by adding and
    // removing them, never in place: the index is saved by what that changed.
    int GetPackageCount() const { return packages.Count(); }
    Package* GetPackage(int index) const { return packages[index]; }
    // The first package in list order whose name hashes to the identifier. It
    // may carry another name than the one asked about (Package::HasName).
    Package* FindPackage(uint32_t id) const;
    // Reads one record from a package-info stream and appends it. A stream
    // without a record still adds a package; null only when memory ran out.
    Package* AddPackage(ChunkReader& reader);
    // Reads a package-info file from its start and appends its record only
    // when the file is not cut short (Package::IsCutShort), the record is the
    // package `name` (Package::HasName) and lists only sizes a file can have
    // (Package::HasPossibleSizes); null otherwise, with the name
    // the record gives in `recordName` (empty for none). Install and download
    // both register packages through it.
    Package* AddPackageInfo(FileClass& file, const char* name, StringClass& recordName);
    // The name of the package whose record the store's package-info file of
    // the identifier holds (empty when there is no such file or it names
    // nothing); false when the file exists but cannot be read.
    bool ReadPackageInfoName(uint32_t id, StringClass& name);
    // Hands every installed package and then the record of every package-info
    // file in the store to `visit` (a package both installed and converted
    // comes twice). False when `visit` said so, memory ran out, or the
    // package-info folder or a file in it could not be read, which
    // `unreadable` then names.
    bool VisitStorePackages(const std::function<bool(const Package&)>& visit, StringClass& unreadable);
    // Takes the package out of the list, keeping the order of the others; the
    // caller deletes it. False when it is not in the list.
    bool RemovePackage(Package* package);
    // Deletes the package-info file of the package `name` that was removed
    // (not one that holds another package of the same identifier) and then
    // every file in the content folder that neither a package nor a
    // package-info file in the store lists, except names beginning with a dot,
    // in the order that keeps a power cut from bringing back a package-info
    // file without its files. Nothing is deleted from the content folder when
    // the lists cannot all be read: `unreadable` then names the package-info
    // file or folder that could not be read. False when the content files
    // could not all be known or deleted durably.
    bool RemovePackageFiles(const char* name, StringClass& unreadable);

private:
    static PackageManager& CreateInstance(bool locked);
    bool ListUnusedFiles(std::vector<std::string>& names, StringClass& unreadable);

    FlatFilesystem& Store;
    DirectoryStructure& Layout;
    DurableStore Durable;
    SimpleDynVecClass<Package*> packages;
    platform::FileLock StoreLock;
    PackageIndex Index;
};
