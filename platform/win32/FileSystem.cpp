#include "platform/FileSystem.h"

#include "platform/FaultInjection.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

// The platform functions share their names with these Windows macros.
#undef CopyFile
#undef DeleteFile
#undef MoveFile
#undef ReplaceFile

namespace platform {
namespace {

// Handles of kernel objects carry only 32 significant bits, also in 64-bit
// processes (Windows guarantees this so that 32-bit and 64-bit programs can
// exchange them), so the int of FileHandle holds one; sign extension restores
// it and keeps INVALID_HANDLE_VALUE equal to InvalidFileHandle.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file)); }

FileHandle FromHandle(HANDLE handle) { return static_cast<FileHandle>(reinterpret_cast<intptr_t>(handle)); }

struct OpenParameters {
    DWORD access;
    DWORD sharing;
    DWORD disposition;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
};

// The rights of a file object: 0 read and write without sharing, kept or
// created; 1 read with read sharing, existing files only; 2 write without
// sharing, created or truncated; 3 the same, but only as a new file, which a
// link of that name cannot stand for.
bool ParametersFor(int rights, OpenParameters& parameters) {
    switch (rights) {
        case 0:
            parameters = {GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS};
            return true;
        case 1:
            parameters = {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING};
            return true;
        case 2:
            parameters = {GENERIC_WRITE, 0, CREATE_ALWAYS};
            return true;
        case 3:
            parameters = {GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT};
            return true;
        case 4:
            parameters = {GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT};
            return true;
        default:
            return false;
    }
}

// ReadFile and WriteFile move at most 4 GiB per call; pieces of 1 GiB keep
// the count well inside a DWORD. A transfer that fails on the way fails
// whole: the bytes moved before the error would pass for the end of the file.
template <typename Transfer>
int64_t TransferAll(int64_t count, Transfer transfer) {
    if (count < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    int64_t done = 0;
    while (done < count) {
        const DWORD piece = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30));
        DWORD moved = 0;
        if (!transfer(done, piece, &moved)) {
            return -1;
        }
        if (moved == 0) {
            break;
        }
        done += moved;
    }
    return done;
}

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The errors with which a file system or the user's rights refuse to open a
// folder for writing or to flush it, as opposed to a disk that fails.
bool RefusedForFolders(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_PARAMETER || error == ERROR_WRITE_PROTECT;
}

// Virus scanners and indexers open a new file for a moment, and a move or
// delete of it fails meanwhile; a name whose file is being deleted while one
// of them holds it is refused as access denied. Such a call is tried again
// with growing pauses, 1.27 s in all, so that a file that stays locked still
// fails the command soon. A read-only file or a folder is refused as access
// denied too, and so fails only after the pauses. The last failure keeps its
// error.
template <typename Call>
bool RetryWhileInUse(Call call) {
    const DWORD lastPause = 640;
    for (DWORD pause = 10;; pause *= 2) {
        if (call()) {
            return true;
        }
        const DWORD error = GetLastError();
        const bool inUse =
            error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!inUse || pause > lastPause) {
            SetLastError(error);
            return false;
        }
        Sleep(pause);
    }
}

}  // namespace

namespace {

// A file continued in place must be the store's own: a link (opened as
// itself) or a second hard link would carry the writes elsewhere.
bool IsSharedOrLink(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) {
        return true;
    }
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    return (information.dwFileAttributes & refused) != 0 || information.nNumberOfLinks != 1;
}

}  // namespace

FileHandle OpenFile(const char* path, int rights) {
    OpenParameters parameters;
    if (!ParametersFor(rights, parameters)) {
        SetLastErrorNumber(InvalidArgumentError);
        return InvalidFileHandle;
    }
    // DeleteFile removes a link itself; what still has the name afterwards
    // makes CREATE_NEW fail. A folder is refused at once rather than after
    // the pauses for a file in use.
    if (rights == 3 && !IsFolder(path)) {
        RetryWhileInUse([&] { return DeleteFileA(path) != 0; });
    }
    const HANDLE handle = FaultInjected(FaultKind::Open)
                              ? INVALID_HANDLE_VALUE
                              : CreateFileA(path, parameters.access, parameters.sharing, nullptr,
                                            parameters.disposition, parameters.flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE && rights == 4 && IsSharedOrLink(handle)) {
        CloseHandle(handle);
        SetLastError(ERROR_ACCESS_DENIED);
        return InvalidFileHandle;
    }
    return handle == INVALID_HANDLE_VALUE ? InvalidFileHandle : FromHandle(handle);
}

int64_t ReadFile(FileHandle file, void* buffer, int64_t count) {
    // Windows checks that the buffer holds the whole count, so a request
    // beyond the end of the file would fail instead of stopping there.
    LARGE_INTEGER size;
    LARGE_INTEGER position;
    const LARGE_INTEGER stay = {};
    if (count > 0 && GetFileSizeEx(ToHandle(file), &size) &&
        SetFilePointerEx(ToHandle(file), stay, &position, FILE_CURRENT)) {
        count = std::min<int64_t>(count, std::max<int64_t>(size.QuadPart - position.QuadPart, 0));
    }
    char* bytes = static_cast<char*>(buffer);
    return TransferAll(count, [&](int64_t done, DWORD piece, DWORD* moved) {
        return ::ReadFile(ToHandle(file), bytes + done, piece, moved, nullptr) != 0;
    });
}

int64_t WriteFile(FileHandle file, const void* buffer, int64_t count) {
    const char* bytes = static_cast<const char*>(buffer);
    return TransferAll(count, [&](int64_t done, DWORD piece, DWORD* moved) {
        return !FaultInjected(FaultKind::Write) &&
               ::WriteFile(ToHandle(file), bytes + done, piece, moved, nullptr) != 0;
    });
}

int64_t SeekFile(FileHandle file, int64_t offset, int origin) {
    static const DWORD methods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
    if (origin < 0 || origin > 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(ToHandle(file), distance, &position, methods[origin])) {
        return -1;
    }
    return position.QuadPart;
}

int64_t FileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(ToHandle(file), &size)) {
        return -1;
    }
    return size.QuadPart;
}

bool CloseFile(FileHandle file) { return CloseHandle(ToHandle(file)) != 0; }

bool FlushFile(FileHandle file) { return !FaultInjected(FaultKind::Force) && FlushFileBuffers(ToHandle(file)) != 0; }

// Windows can start no write-back of its own accord; the file is forced as a
// whole before it is moved.
void StartWriteBack(FileHandle, int64_t, int64_t) {}

DataForcer::~DataForcer() = default;

bool DataForcer::Open(const char*) {
    Opened = true;
    return true;
}

// Forcing a whole volume takes rights that a user does not have, so each file
// is forced by itself, before it is moved into place; a file on any volume is
// forced the same way.
bool DataForcer::Include(FileHandle file) {
    return Opened && !FaultInjected(FaultKind::Force) && FlushFileBuffers(ToHandle(file)) != 0;
}

bool DataForcer::Force() { return Opened; }

// Windows documents no flush of a folder; where the file system accepts one,
// it is asked to write the folder's new, moved and deleted names, and Wine
// makes it a sync of the Linux folder beneath. A volume may refuse to open a
// folder for writing or to flush it: the names then rest on the moves'
// write-through and the file system's journal, which may reach the disk only
// later, since failing every command on such a volume would be worse. A
// missing folder fails, and so does a flush that fails on the disk.
bool SyncFolder(const char* folder) {
    const HANDLE handle =
        CreateFileA(folder, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder that another program holds without write sharing is
        // refused with a sharing violation, like one the user may only read.
        if ((RefusedForFolders(error) || error == ERROR_SHARING_VIOLATION) && IsFolder(folder)) {
            return true;
        }
        SetLastError(error);
        return false;
    }
    const bool flushed = !FaultInjected(FaultKind::SyncFolder) && FlushFileBuffers(handle) != 0;
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (flushed || RefusedForFolders(error)) {
        return true;
    }
    SetLastError(error);
    return false;
}

uint32_t GetFileDosDateTime(FileHandle file) {
    FILETIME written;
    FILETIME local;
    WORD date = 0;
    WORD time = 0;
    if (!GetFileTime(ToHandle(file), nullptr, nullptr, &written) || !FileTimeToLocalFileTime(&written, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time)) {
        return 0;
    }
    return (static_cast<uint32_t>(date) << 16) | time;
}

bool SetFileDosDateTime(FileHandle file, uint32_t dosDateTime) {
    FILETIME local;
    FILETIME universal;
    if (!DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16), static_cast<WORD>(dosDateTime), &local) ||
        !LocalFileTimeToFileTime(&local, &universal)) {
        return false;
    }
    // Access and write time change; the creation time stays.
    return SetFileTime(ToHandle(file), nullptr, &universal, &universal) != 0;
}

int LastErrorNumber() { return static_cast<int>(GetLastError()); }

bool FaultInjected(FaultKind kind) {
    if (!InjectedFault(kind)) {
        return false;
    }
    SetLastError(ERROR_IO_DEVICE);
    return true;
}

// The C runtime's error number is set as well: an invalid open rights value
// is reported there.
void SetLastErrorNumber(int code) {
    errno = code;
    SetLastError(static_cast<DWORD>(code));
}

std::string DescribeError(int code) {
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string described = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!described.empty() && std::strchr(". \r\n", described.back()) != nullptr) {
        described.pop_back();
    }
    return described;
}

std::string NativePathText(const char* path) {
    std::string native = path != nullptr ? path : "";
    std::replace(native.begin(), native.end(), '/', '\\');
    return native;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

int64_t PathFileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return -1;
    }
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool DeleteFile(const char* path) {
    return !FaultInjected(FaultKind::Delete) && RetryWhileInUse([&] { return DeleteFileA(path) != 0; });
}

bool CopyFile(const char* source, const char* destination) { return CopyFileA(source, destination, FALSE) != 0; }

// The moves return only once they are on the disk, as far as Windows promises
// that; the file's own data was forced before.
bool MoveFile(const char* source, const char* destination) {
    return !FaultInjected(FaultKind::Rename) &&
           RetryWhileInUse([&] { return MoveFileExA(source, destination, MOVEFILE_WRITE_THROUGH) != 0; });
}

bool ReplaceFile(const char* source, const char* destination) {
    return !FaultInjected(FaultKind::Rename) && RetryWhileInUse([&] {
        return MoveFileExA(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
}

bool CreateFolder(const char* path) {
    if (!FaultInjected(FaultKind::CreateFolder) && CreateDirectoryA(path, nullptr)) {
        return true;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesA(path);
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    SetLastError(error);
    return false;
}

bool ListFolder(const char* path, std::vector<std::string>& names) {
    names.clear();
    std::string pattern = path != nullptr ? path : "";
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') {
        pattern += '\\';
    }
    pattern += '*';
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        // Only the root of a drive can be an empty folder without "." and "..".
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        names.emplace_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES;
}

bool DeleteFolderEntry(const char* folder, const char* name) {
    if (name[0] == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        std::strpbrk(name, "\\/") != nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::string path = folder;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
        path += '\\';
    }
    path += name;
    return !FaultInjected(FaultKind::Delete) && RetryWhileInUse([&] { return DeleteFileA(path.c_str()) != 0; });
}

std::string CurrentDirectory() {
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) {
        return std::string();
    }
    std::string buffer(needed, '\0');
    const DWORD length = GetCurrentDirectoryA(needed, buffer.data());
    if (length == 0 || length >= needed) {
        return std::string();
    }
    buffer.resize(length);
    // "C:\" becomes "C:", so that appending a separator gives the root again.
    if (!buffer.empty() && buffer.back() == '\\') {
        buffer.pop_back();
    }
    return buffer;
}

}  // namespace platform
