#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/StringClass.h"

class FileClass;

// File operations on store-relative paths (forward slashes). Failures of the
// operations without a result are ignored by design: callers learn what they
// need from opening files or testing for them. A failed operation with a
// result is noted for the command's cause line (StoreFailure.h).
class Filesystem {
public:
    virtual ~Filesystem() = default;

    // A new, unopened file object for the path; the caller opens it. Nothing
    // is made on disk: a writer makes the folders it writes into first.
    virtual FileClass* GetFile(const char* path) = 0;
    // Deletes a file object from GetFile (null is ignored).
    virtual void ReturnFile(FileClass* file) = 0;
    // True when a file or folder of that name exists.
    virtual bool FileExists(const char* path) = 0;
    // Copies, replacing an existing destination.
    virtual void CopyFile(const char* source, const char* destination) = 0;
    // Moves or renames; fails when the destination exists.
    [[nodiscard]] virtual bool MoveFile(const char* source, const char* destination) = 0;
    virtual void DeleteFile(const char* path) = 0;

    // Forces what was written to an open file object from GetFile onto the disk.
    [[nodiscard]] virtual bool FlushFile(FileClass* file) = 0;
    // Puts source in the place of destination in one step, so that the
    // destination is always either the old or the new file. The new name is
    // durable once the folder is synced.
    [[nodiscard]] virtual bool ReplaceFile(const char* source, const char* destination) = 0;
    // Makes the names created, renamed or deleted in the folder durable; false
    // when the folder is missing or the sync fails (platform::SyncFolder).
    [[nodiscard]] virtual bool SyncFolder(const char* path) = 0;
    // The names in a folder, those beginning with a dot included; false when
    // the folder cannot be read.
    virtual bool ListFolder(const char* path, std::vector<std::string>& names) = 0;
    // Deletes the file that ListFolder gave as `name` in that folder, taking
    // the name exactly as listed: it is never read as a path of its own.
    [[nodiscard]] virtual bool DeleteListedFile(const char* folder, const char* name) = 0;
};

// The store filesystem: every path is taken relative to one root folder.
class FlatFilesystem : public Filesystem {
public:
    // The root without a trailing separator.
    explicit FlatFilesystem(const char* root);

    FileClass* GetFile(const char* path) override;
    void ReturnFile(FileClass* file) override;
    bool FileExists(const char* path) override;
    void CopyFile(const char* source, const char* destination) override;
    [[nodiscard]] bool MoveFile(const char* source, const char* destination) override;
    void DeleteFile(const char* path) override;
    [[nodiscard]] bool FlushFile(FileClass* file) override;
    [[nodiscard]] bool ReplaceFile(const char* source, const char* destination) override;
    [[nodiscard]] bool SyncFolder(const char* path) override;
    bool ListFolder(const char* path, std::vector<std::string>& names) override;
    [[nodiscard]] bool DeleteListedFile(const char* folder, const char* name) override;

    // The root and the path joined by a slash.
    StringClass GetFullPath(const char* path) const;
    const StringClass& GetRoot() const { return root; }

private:
    StringClass root;
};

// The process-wide store filesystem, rooted at StoreBasePath followed by mofs;
// discovers the data paths on first use when that has not happened yet.
FlatFilesystem& GetStoreFilesystem();

// The text before the last slash or backslash; empty when there is none, or
// only a leading one.
StringClass GetParentPath(const char* path);
