#include "package/FlatFilesystem.h"

#include <cstring>

#include "config/DataPaths.h"
#include "file/RawFileClass.h"
#include "package/DurableStore.h"
#include "platform/FileSystem.h"

FlatFilesystem::FlatFilesystem(const char* root) : root(root) {}

StringClass FlatFilesystem::GetFullPath(const char* path) const { return FormatString("%s/%s", root.Peek(), path); }

FileClass* FlatFilesystem::GetFile(const char* path) {
    const StringClass full = GetFullPath(path);
    CreateParentFolders(full);
    return new RawFileClass(full);
}

void FlatFilesystem::ReturnFile(FileClass* file) { delete file; }

bool FlatFilesystem::FileExists(const char* path) { return platform::PathExists(GetFullPath(path)); }

void FlatFilesystem::CopyFile(const char* source, const char* destination) {
    platform::CopyFile(GetFullPath(source), GetFullPath(destination));
}

bool FlatFilesystem::MoveFile(const char* source, const char* destination) {
    return platform::MoveFile(GetFullPath(source), GetFullPath(destination));
}

void FlatFilesystem::DeleteFile(const char* path) { platform::DeleteFile(GetFullPath(path)); }

bool FlatFilesystem::FlushFile(FileClass* file) {
    return file != nullptr && file->IsOpen() && platform::FlushFile(file->GetFileHandle());
}

bool FlatFilesystem::ReplaceFile(const char* source, const char* destination) {
    return platform::ReplaceFile(GetFullPath(source), GetFullPath(destination));
}

// A folder that is not there holds no name to make durable: a store that has
// only downloaded has no packages/ folder, and one may lose its files/.
bool FlatFilesystem::SyncFolder(const char* path) {
    const StringClass full = GetFullPath(path);
    return platform::SyncFolder(full) || !platform::PathExists(full);
}

bool FlatFilesystem::HasFileOfSize(const char* path, int64_t size) {
    // A missing file's size reads as -1, which no file has.
    return size >= 0 && platform::PathFileSize(GetFullPath(path)) == size;
}

bool FlatFilesystem::ListFolder(const char* path, std::vector<std::string>& names) {
    return platform::ListFolder(GetFullPath(path), names);
}

bool FlatFilesystem::DeleteListedFile(const char* folder, const char* name) {
    return platform::DeleteFolderEntry(GetFullPath(folder), name);
}

namespace {

// The store folder, "%smofs" with StoreBasePath, which is discovered first
// when nobody has needed it yet.
StringClass StoreRoot() {
    if (!DataPathsDiscovered) {
        DiscoverDataPaths();
    }
    return FormatString("%smofs", StoreBasePath.Peek());
}

}  // namespace

FlatFilesystem& GetStoreFilesystem() {
    static FlatFilesystem store(StoreRoot());
    return store;
}

StringClass SanitizeFileName(const char* name) {
    StringClass result;
    const size_t length = name != nullptr ? std::strlen(name) : 0;
    if (length == 0) {
        return result;
    }
    char* text = result.GetBuffer(static_cast<int>(length + 1));
    for (size_t index = 0; index < length; ++index) {
        text[index] = std::strchr("\\/:*?\"<>|", name[index]) != nullptr ? '_' : name[index];
    }
    text[length] = 0;
    return result;
}

StringClass GetParentPath(const char* path) {
    if (path == nullptr) {
        return StringClass();
    }
    const char* last = nullptr;
    for (const char* at = path; *at != 0; ++at) {
        if (*at == '/' || *at == '\\') {
            last = at;
        }
    }
    if (last == nullptr || last == path) {
        return StringClass();
    }
    StringClass parent;
    const size_t length = static_cast<size_t>(last - path);
    char* text = parent.GetBuffer(static_cast<int>(length + 1));
    std::memcpy(text, path, length);
    text[length] = 0;
    return parent;
}

void CreateParentFolders(const char* path) {
    if (path == nullptr || path[0] == 0) {
        return;
    }
    const StringClass parent = GetParentPath(path);
    if (!parent.IsEmpty() && !platform::PathExists(parent)) {
        MakeFolders(parent);
    }
}
