#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Files and folders on disk. Paths keep the system's own Windows spelling:
// backslashes become the native separator here and nowhere else, though not
// within the program's folder or a shell folder (ShellFolders.h) that a path
// begins with, whose names are native and may hold a backslash as an ordinary
// byte. A name that begins with '/' (or is otherwise absolute) is used as it
// stands.
namespace platform {

// An open file. Opaque to callers; compare it with InvalidFileHandle only.
using FileHandle = int;
inline constexpr FileHandle InvalidFileHandle = -1;

// The error number reported for a bad argument (an unknown open rights value).
inline constexpr int InvalidArgumentError = 22;

// Rights: 0 read and write (created when missing), 1 read only (found ignoring
// letter case when the spelling does not exist), 2 write only (created or
// truncated), 3 write only, a new file: whatever has that name is deleted
// first (a link itself, never what it leads to) and the file is created
// exclusively, never through a link, so that a link planted under the name
// cannot lead the writes elsewhere; it fails when the name cannot be freed.
// 4 read and write an existing regular file that is no link: it fails for a
// symbolic link, a file with a second hard link, a folder or a missing name,
// so that continuing a file of the store never writes elsewhere.
// Any other rights value fails with InvalidArgumentError. Folders cannot be
// opened as files.
FileHandle OpenFile(const char* path, int rights);

// Transfer up to count bytes, retrying short transfers until done or at the
// end of the file. The number of bytes transferred, or -1 on failure, also
// when a part of the count had moved before it.
int64_t ReadFile(FileHandle file, void* buffer, int64_t count);
[[nodiscard]] int64_t WriteFile(FileHandle file, const void* buffer, int64_t count);

// Origin 0 from the start, 1 from the current position, 2 from the end.
// The new position, or -1 on failure (the position is then unchanged).
int64_t SeekFile(FileHandle file, int64_t offset, int origin);

// The size of the open file, or -1 on failure.
int64_t FileSize(FileHandle file);

[[nodiscard]] bool CloseFile(FileHandle file);

// Forces the file's written data to the disk.
[[nodiscard]] bool FlushFile(FileHandle file);

// Data written to a file can be lost by a power cut until it is forced to the
// disk, and a new name (a file created, renamed or deleted) until its folder
// is synced. Forcing files one by one makes the disk wait for each; these
// force many together.

// Starts writing length bytes of the file from offset to the disk and returns
// at once: the disk works while more is written, and a later force finds
// little left to do. It makes nothing durable by itself.
void StartWriteBack(FileHandle file, int64_t offset, int64_t length);

// Forces the data of a group of files written into one folder at once. Opened
// before the first of them is written, so that a write-back that fails in
// between is reported. A force of a whole file system covers only that one,
// so the group is forced on the file system of its folder, which may differ
// from the store's (a content folder linked to a second disk); where such a
// force does not reach the disk at all (network shares, user-space file
// systems), the files are forced one by one as they are included.
class DataForcer {
public:
    DataForcer() = default;
    ~DataForcer();
    DataForcer(const DataForcer&) = delete;
    DataForcer& operator=(const DataForcer&) = delete;

    // Begins a group of files written into the folder. A folder that does not
    // exist yet will be made in the nearest one above that does, and share
    // its file system.
    [[nodiscard]] bool Open(const char* folder);
    // A file of the group, still open and written whole: its data is durable
    // once the next Force succeeds. Where the system can only force files one
    // by one (Windows, or the folder's file system), it is forced here.
    [[nodiscard]] bool Include(FileHandle file);
    // Makes the data of every file included since the last Force durable;
    // false when any of it may not have reached the disk.
    [[nodiscard]] bool Force();

private:
    // Forces the folder's file system whole; -1 where files are forced one
    // by one.
    intptr_t Handle = -1;
    bool Opened = false;
    bool Pending = false;
};

// Makes the names created, renamed or deleted in the folder durable; false
// when the folder is missing or the sync fails. Where a Windows volume refuses
// to flush a folder, the moves' write-through is all there is, and it counts
// as synced.
[[nodiscard]] bool SyncFolder(const char* folder);

// The modification time as a DOS date (high 16 bits) and time (low 16 bits)
// in local time; 0 when it cannot be had.
uint32_t GetFileDosDateTime(FileHandle file);
// Sets the access and modification times from a DOS date/time pair.
[[nodiscard]] bool SetFileDosDateTime(FileHandle file, uint32_t dosDateTime);

// The error number of the last failed call on the calling thread.
int LastErrorNumber();
void SetLastErrorNumber(int code);
// The system's own words for an error number, for a message ("Input/output
// error"), without a final full stop or line break.
std::string DescribeError(int code);
// The path as this system spells it, for a message.
std::string NativePathText(const char* path);

// True when a file or folder exists under exactly this spelling. The store
// names its files itself and tells names apart by letter case, so a lookup
// that ignored it would take another file for the one asked about.
bool PathExists(const char* path);
// The size of the file under exactly this spelling; -1 when there is none (a
// folder is none).
int64_t PathFileSize(const char* path);

// On Windows the deletes and moves wait a little over a second for a file that
// another program (a virus scanner, an indexer) holds open before they fail.
[[nodiscard]] bool DeleteFile(const char* path);
// Copies source over destination, replacing it when it exists.
[[nodiscard]] bool CopyFile(const char* source, const char* destination);
// Moves source to destination; fails when destination already exists.
[[nodiscard]] bool MoveFile(const char* source, const char* destination);
// Replaces destination by source in one step, so readers see either the old
// or the new file, never a partial one. The new name is durable once the
// folder is synced.
[[nodiscard]] bool ReplaceFile(const char* source, const char* destination);

// Creates one folder; its parent must exist. True also when it already exists
// as a folder.
[[nodiscard]] bool CreateFolder(const char* path);
// The names in a folder, "." and ".." included; false when it cannot be read.
bool ListFolder(const char* path, std::vector<std::string>& names);

// Deletes the file `name`, as ListFolder gave it, inside `folder`. The name is
// never mapped or split: where a backslash is an ordinary byte of a name, a
// listed name that holds backslashes or ".." still means that one entry.
// Names that cannot stand for one entry of the folder ("", ".", "..", or with
// a separator of this system) delete nothing.
[[nodiscard]] bool DeleteFolderEntry(const char* folder, const char* name);

// The current directory, without a trailing separator.
std::string CurrentDirectory();

}  // namespace platform
