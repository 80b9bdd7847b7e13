#include "package/FlatFilesystem.h"

#include <cstring>

#include "config/DataPaths.h"
#include "file/RawFileClass.h"
#include "package/StoreFailure.h"
#include "platform/FileSystem.h"

FlatFilesystem::FlatFilesystem(const char* root) : root(root) {}

StringClass FlatFilesystem::GetFullPath(const char* path) const { return FormatString("%s/%s", root.Peek(), path); }

// A read makes nothing: the writers make the folders they write into.
FileClass* FlatFilesystem::GetFile(const char* path) { return new RawFileClass(GetFullPath(path)); }

void FlatFilesystem::ReturnFile(FileClass* file) { delete file; }

bool FlatFilesystem::FileExists(const char* path) { return platform::PathExists(GetFullPath(path)); }

void FlatFilesystem::CopyFile(const char* source, const char* destination) {
    static_cast<void>(platform::CopyFile(GetFullPath(source), GetFullPath(destination)));
}

bool FlatFilesystem::MoveFile(const char* source, const char* destination) {
    const StringClass from = GetFullPath(source);
    const StringClass to = GetFullPath(destination);
    return platform::MoveFile(from, to) ||
           NoteStoreFailure(FormatString("rename %s to %s", QuotedPath(from).Peek(), QuotedPath(to).Peek()));
}

// A file that cannot be deleted is found by the next cleanup, or its name is
// refused when a new file is created under it.
void FlatFilesystem::DeleteFile(const char* path) { static_cast<void>(platform::DeleteFile(GetFullPath(path))); }

bool FlatFilesystem::FlushFile(FileClass* file) {
    return file != nullptr && file->IsOpen() &&
           (platform::FlushFile(file->GetFileHandle()) ||
            NoteStoreFailure(FormatString("force %s to the disk", QuotedPath(file->GetFileName()).Peek())));
}

bool FlatFilesystem::ReplaceFile(const char* source, const char* destination) {
    const StringClass from = GetFullPath(source);
    const StringClass to = GetFullPath(destination);
    return platform::ReplaceFile(from, to) ||
           NoteStoreFailure(FormatString("rename %s to %s", QuotedPath(from).Peek(), QuotedPath(to).Peek()));
}

bool FlatFilesystem::SyncFolder(const char* path) {
    const StringClass full = GetFullPath(path);
    return platform::SyncFolder(full) || NoteStoreFailure(FormatString("sync the folder %s", QuotedPath(full).Peek()));
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
