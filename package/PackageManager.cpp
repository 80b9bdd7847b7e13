#include "package/PackageManager.h"

#include <cstdlib>
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

namespace {

constexpr int CopyPieceSize = 65536;

// Moves the rest of one file into another in large pieces; false when a read
// failed or a write fell short.
bool CopyRest(FileClass& source, FileClass& destination) {
    char* piece = new (std::nothrow) char[CopyPieceSize];
    if (piece == nullptr) {
        return false;
    }
    bool complete = true;
    for (;;) {
        const int count = source.Read(piece, CopyPieceSize);
        if (count <= 0) {
            complete = count == 0;
            break;
        }
        if (destination.Write(piece, count) != count) {
            complete = false;
            break;
        }
    }
    delete[] piece;
    return complete;
}

// The set of content paths in use. Chained, with a power-of-two bucket count
// that doubles when every bucket holds an entry on average. The key hash
// covers every byte: content paths of different packages often differ only
// in their checksum digits, far from the end of the text.
class PathSet {
public:
    PathSet() = default;
    ~PathSet() {
        for (uint32_t index = 0; index < BucketCount; ++index) {
            for (Node* node = Buckets[index]; node != nullptr;) {
                Node* next = node->next;
                delete node;
                node = next;
            }
        }
        delete[] Buckets;
    }
    PathSet(const PathSet&) = delete;
    PathSet& operator=(const PathSet&) = delete;

    // False when memory ran out.
    bool Insert(const StringClass& key) {
        const uint32_t hash = Hash(key);
        if (Find(key, hash)) {
            return true;
        }
        if (EntryCount >= BucketCount && !Grow()) {
            return false;
        }
        Node* node = new (std::nothrow) Node{key, hash, nullptr};
        if (node == nullptr) {
            return false;
        }
        Node*& bucket = Buckets[hash & (BucketCount - 1)];
        node->next = bucket;
        bucket = node;
        ++EntryCount;
        return true;
    }

    bool Contains(const char* key) const { return Find(key, Hash(key)); }

private:
    struct Node {
        StringClass key;
        uint32_t hash;
        Node* next;
    };

    static uint32_t Hash(const char* key) {
        uint32_t hash = 2166136261u;
        for (const unsigned char* at = reinterpret_cast<const unsigned char*>(key); *at != 0; ++at) {
            hash = (hash ^ *at) * 16777619u;
        }
        return hash;
    }

    bool Find(const char* key, uint32_t hash) const {
        if (BucketCount == 0) {
            return false;
        }
        for (Node* node = Buckets[hash & (BucketCount - 1)]; node != nullptr; node = node->next) {
            if (node->hash == hash && node->key == key) {
                return true;
            }
        }
        return false;
    }

    bool Grow() {
        const uint32_t newCount = BucketCount == 0 ? 4 : BucketCount * 2;
        Node** fresh = new (std::nothrow) Node*[newCount]();
        if (fresh == nullptr) {
            return false;
        }
        for (uint32_t index = 0; index < BucketCount; ++index) {
            for (Node* node = Buckets[index]; node != nullptr;) {
                Node* next = node->next;
                Node*& bucket = fresh[node->hash & (newCount - 1)];
                node->next = bucket;
                bucket = node;
                node = next;
            }
        }
        delete[] Buckets;
        Buckets = fresh;
        BucketCount = newCount;
        return true;
    }

    Node** Buckets = nullptr;
    uint32_t BucketCount = 0;
    uint32_t EntryCount = 0;
};

PackageManager* Instance = nullptr;
void (*WaitNotice)() = nullptr;

void ReleaseInstanceAtExit() { PackageManager::ReleaseInstance(); }

}  // namespace

PackageManager::PackageManager(Filesystem& store, DirectoryStructure& layout) : Store(store), Layout(layout) {}

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
        LockStore(store, Instance->StoreLock);
        Instance->Load();
        // Registered after the store filesystem exists, so it runs before that
        // is destroyed.
        if (!exitHandlerRegistered) {
            exitHandlerRegistered = std::atexit(ReleaseInstanceAtExit) == 0;
        }
    }
    return *Instance;
}

void PackageManager::SetWaitNotice(void (*notice)()) { WaitNotice = notice; }

// Two programs that load the same index and save it at exit would each write
// back only what they knew: the second save would drop what the first one
// registered. A store where no lock file can be made (a read-only folder) is
// still used, without the lock, as before.
void PackageManager::LockStore(const FlatFilesystem& store, platform::FileLock& lock) {
    const StringClass lockPath = store.GetFullPath(LockFileName);
    CreateParentFolders(lockPath);
    lock.Lock(lockPath, WaitNotice);
}

bool PackageManager::ReleaseInstance() {
    if (Instance == nullptr) {
        return true;
    }
    PackageManager* manager = Instance;
    Instance = nullptr;
    const bool saved = manager->Save();
    delete manager;
    return saved;
}

void PackageManager::Load() {
    FileClass* file = Store.GetFile(Layout.GetDatabasePath());
    file->Open(FileClass::ReadOnly);
    if (file->IsOpen()) {
        // The index is read into memory in large pieces first: parsed straight
        // from the disk, every field of every record would be a read call.
        MemoryFile contents;
        CopyRest(*file, contents);
        file->Close();
        contents.Seek(0, FileClass::FromStart);
        ChunkReader reader(&contents);
        while (reader.OpenChunk()) {
            Package* package = new (std::nothrow) Package(reader);
            if (package != nullptr && !packages.Add(package)) {
                delete package;
            }
            reader.CloseChunk();
        }
    }
    Store.ReturnFile(file);
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

bool PackageManager::Save() {
    const StringClass databasePath = Layout.GetDatabasePath();
    const StringClass temporaryPath = databasePath + ".new";
    MemoryFile contents;
    bool complete = WriteIndex(contents);
    contents.Seek(0, FileClass::FromStart);

    FileClass* file = Store.GetFile(temporaryPath);
    file->Open(FileClass::WriteOnly);
    complete = complete && file->IsOpen() && CopyRest(contents, *file) && Store.FlushFile(file);
    if (file->IsOpen()) {
        file->Close();
    }
    Store.ReturnFile(file);

    // The old index is replaced only by a new one known to be whole.
    complete = complete && Store.ReplaceFile(temporaryPath, databasePath);
    if (!complete) {
        Store.DeleteFile(temporaryPath);
    }
    return complete;
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
    return package;
}

bool PackageManager::RemovePackage(Package* package) { return packages.Delete(package); }

void PackageManager::RemoveUnusedFiles() {
    // A set that misses a path would delete a file still in use, so nothing is
    // deleted unless every listed path made it in.
    PathSet used;
    for (int packageIndex = 0; packageIndex < packages.Count(); ++packageIndex) {
        const Package& package = *packages[packageIndex];
        for (int fileIndex = 0; fileIndex < package.GetFileCount(); ++fileIndex) {
            if (!used.Insert(Layout.GetContentFilePath(package.GetFileInfo(fileIndex)))) {
                return;
            }
        }
    }
    std::vector<std::string> names;
    if (!Store.ListFolder("files", names)) {
        return;
    }
    for (const std::string& name : names) {
        if (name.empty() || name[0] == '.') {
            continue;
        }
        const StringClass path = FormatString("files/%s", name.c_str());
        if (!used.Contains(path)) {
            Store.DeleteFile(path);
        }
    }
}
