#include "platform/FileSystem.h"

#include "platform/FaultInjection.h"
#include "platform/posix/NativeFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>

namespace platform {

namespace native {
namespace {

// Only folders whose names hold a backslash are kept; most programs have
// none, and their paths need no look at the list.
std::mutex KeptLock;
std::vector<std::string> Kept;
std::atomic<bool> AnyKept{false};

size_t KeptPrefixLength(const std::string& path) {
    std::lock_guard<std::mutex> guard(KeptLock);
    size_t longest = 0;
    for (const std::string& folder : Kept) {
        const bool begins = path.compare(0, folder.size(), folder) == 0 &&
                            (path.size() == folder.size() || path[folder.size()] == '\\' || path[folder.size()] == '/');
        if (begins && folder.size() > longest) {
            longest = folder.size();
        }
    }
    return longest;
}

}  // namespace

void KeepFolder(const std::string& folder) {
    if (folder.find('\\') == std::string::npos) {
        return;
    }
    std::lock_guard<std::mutex> guard(KeptLock);
    if (std::find(Kept.begin(), Kept.end(), folder) == Kept.end()) {
        Kept.push_back(folder);
    }
    AnyKept = true;
}

// The system's own names use backslashes; this is the only place they turn
// into the native separator.
std::string PathOf(const char* path) {
    std::string native = path != nullptr ? path : "";
    const size_t kept = AnyKept ? KeptPrefixLength(native) : 0;
    std::replace(native.begin() + static_cast<std::ptrdiff_t>(kept), native.end(), '\\', '/');
    return native;
}

}  // namespace native

namespace {

std::string NativePath(const char* path) { return native::PathOf(path); }

char AsciiLower(char character) {
    return (character >= 'A' && character <= 'Z') ? static_cast<char>(character + ('a' - 'A')) : character;
}

bool EqualIgnoringAsciiCase(const std::string& left, const char* right) {
    size_t index = 0;
    for (; index < left.size(); ++index) {
        if (right[index] == 0 || AsciiLower(left[index]) != AsciiLower(right[index])) {
            return false;
        }
    }
    return right[index] == 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

bool EntryExists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// The entry of a folder that equals name ignoring ASCII case; the first in
// byte order when several do, so the choice does not depend on readdir order.
bool FindEntryIgnoringCase(const std::string& folder, const std::string& name, std::string& found) {
    DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
    if (directory == nullptr) {
        return false;
    }
    bool any = false;
    while (const dirent* entry = readdir(directory)) {
        if (EqualIgnoringAsciiCase(name, entry->d_name) && (!any || found.compare(entry->d_name) > 0)) {
            found = entry->d_name;
            any = true;
        }
    }
    closedir(directory);
    return any;
}

// Windows file names ignore letter case: when the path does not exist as
// spelled, each component is matched against the real folder entries. The
// spelling is returned unchanged when some component has no match, so the
// caller fails with the usual error.
std::string ResolveIgnoringCase(const std::string& native) {
    if (EntryExists(native)) {
        return native;
    }
    std::string resolved = native.starts_with('/') ? "/" : "";
    size_t start = 0;
    while (start < native.size()) {
        size_t end = native.find('/', start);
        if (end == std::string::npos) {
            end = native.size();
        }
        const std::string component = native.substr(start, end - start);
        start = end + 1;
        if (component.empty()) {
            continue;
        }
        std::string candidate = JoinPath(resolved, component);
        if (component != "." && component != ".." && !EntryExists(candidate)) {
            std::string match;
            if (!FindEntryIgnoringCase(resolved, component, match)) {
                return native;
            }
            candidate = JoinPath(resolved, match);
        }
        resolved = candidate;
    }
    if (native.ends_with('/') && !resolved.ends_with('/')) {
        resolved += '/';
    }
    return resolved;
}

int OpenFlags(int rights) {
    switch (rights) {
        case 0:
            return O_RDWR | O_CREAT;
        case 1:
            return O_RDONLY;
        case 2:
            return O_WRONLY | O_CREAT | O_TRUNC;
        case 3:
            return O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
        case 4:
            return O_RDWR | O_NOFOLLOW;
        default:
            return -1;
    }
}

// Windows cannot open a folder as a file; neither can this backend, so that
// existence tests through an open behave alike.
bool RefuseFolder(int descriptor) {
    struct stat status;
    if (fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(descriptor);
        errno = EISDIR;
        return true;
    }
    return false;
}

// A file continued in place must be the store's own: a hard link would carry
// the writes to the file it shares with another name.
bool RefuseShared(int descriptor) {
    struct stat status;
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1) {
        return false;
    }
    close(descriptor);
    errno = EPERM;
    return true;
}

// read() and write() move at most about 2 GiB per call and may stop early on
// signals; callers want the whole transfer. A transfer that fails on the way
// fails whole: the bytes moved before the error would pass for the end of
// the file.
template <typename Transfer>
int64_t TransferAll(int64_t count, Transfer transfer) {
    if (count < 0) {
        errno = EINVAL;
        return -1;
    }
    int64_t done = 0;
    while (done < count) {
        const size_t piece = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
        const ssize_t moved = transfer(done, piece);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0) {
            return -1;
        }
        if (moved == 0) {
            break;
        }
        done += moved;
    }
    return done;
}

bool CopyContents(int source, int destination) {
    char buffer[65536];
    for (;;) {
        const int64_t got =
            TransferAll(sizeof buffer, [&](int64_t done, size_t piece) { return read(source, buffer + done, piece); });
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        const int64_t put =
            TransferAll(got, [&](int64_t done, size_t piece) { return write(destination, buffer + done, piece); });
        if (put != got) {
            return false;
        }
    }
}

bool ToDosDateTime(time_t seconds, uint32_t& dosDateTime) {
    tm local;
    if (localtime_r(&seconds, &local) == nullptr) {
        return false;
    }
    const int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) {
        return false;
    }
    const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    const uint32_t time = static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    dosDateTime = (date << 16) | time;
    return true;
}

bool FromDosDateTime(uint32_t dosDateTime, time_t& seconds) {
    const uint32_t date = dosDateTime >> 16;
    const uint32_t time = dosDateTime & 0xFFFF;
    tm local = {};
    local.tm_year = static_cast<int>(date >> 9) + 80;
    local.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    local.tm_mday = static_cast<int>(date & 0x1F);
    local.tm_hour = static_cast<int>(time >> 11);
    local.tm_min = static_cast<int>((time >> 5) & 0x3F);
    local.tm_sec = static_cast<int>((time & 0x1F) * 2);
    local.tm_isdst = -1;
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_hour > 23 || local.tm_min > 59 ||
        local.tm_sec > 59) {
        errno = EINVAL;
        return false;
    }
    seconds = mktime(&local);
    return seconds != static_cast<time_t>(-1);
}

// File systems whose syncfs writes their files' data to the disk beneath.
// On the others (user-space, network and cluster file systems, and any not
// known here) it may stop at a daemon or a server's cache, so their files are
// forced one by one, which each of them passes on.
bool SyncReachesTheDisk(int descriptor) {
    struct statfs system;
    if (fstatfs(descriptor, &system) != 0) {
        return false;
    }
    switch (static_cast<uint32_t>(system.f_type)) {
        case 0xEF53:      // ext2, ext3, ext4
        case 0x58465342:  // XFS
        case 0x9123683E:  // Btrfs
        case 0xF2F52010:  // F2FS
        case 0xCA451A4E:  // bcachefs
        case 0x2FC12FC1:  // ZFS
        case 0x3153464A:  // JFS
        case 0x52654973:  // ReiserFS
        case 0x3434:      // NILFS
        case 0x4D44:      // FAT
        case 0x2011BAB0:  // exFAT
        case 0x5346544E:  // NTFS, the kernel's driver
        case 0x482B:      // HFS+
        case 0x794C7630:  // overlay, which forces the file system beneath
        case 0x01021994:  // tmpfs and
        case 0x858458F6:  // ramfs: nothing to force, nothing to lose by asking
            return true;
        default:
            return false;
    }
}

}  // namespace

FileHandle OpenFile(const char* path, int rights) {
    const int flags = OpenFlags(rights);
    if (flags < 0) {
        errno = EINVAL;
        return InvalidFileHandle;
    }
    std::string native = NativePath(path);
    if (rights == 1) {
        native = ResolveIgnoringCase(native);
    }
    // unlink removes a link itself; what still has the name afterwards (a
    // folder, or a name planted again meanwhile) makes the exclusive open fail.
    if (rights == 3) {
        unlink(native.c_str());
    }
    int descriptor;
    do {
        descriptor = FaultInjected(FaultKind::Open) ? -1 : open(native.c_str(), flags | O_CLOEXEC | O_LARGEFILE, 0644);
    } while (descriptor < 0 && errno == EINTR);
    // Opening a folder for writing fails by itself; for reading it is refused
    // here.
    if (descriptor < 0 || (rights == 1 && RefuseFolder(descriptor)) || (rights == 4 && RefuseShared(descriptor))) {
        return InvalidFileHandle;
    }
    return descriptor;
}

int64_t ReadFile(FileHandle file, void* buffer, int64_t count) {
    char* bytes = static_cast<char*>(buffer);
    return TransferAll(count, [&](int64_t done, size_t piece) { return read(file, bytes + done, piece); });
}

int64_t WriteFile(FileHandle file, const void* buffer, int64_t count) {
    const char* bytes = static_cast<const char*>(buffer);
    return TransferAll(count, [&](int64_t done, size_t piece) {
        return FaultInjected(FaultKind::Write) ? -1 : write(file, bytes + done, piece);
    });
}

int64_t SeekFile(FileHandle file, int64_t offset, int origin) {
    static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin < 0 || origin > 2) {
        errno = EINVAL;
        return -1;
    }
    const off_t position = lseek(file, static_cast<off_t>(offset), whence[origin]);
    return position < 0 ? -1 : static_cast<int64_t>(position);
}

int64_t FileSize(FileHandle file) {
    struct stat status;
    if (fstat(file, &status) != 0) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size);
}

bool CloseFile(FileHandle file) {
    // Linux releases the descriptor even when close reports EINTR, so it is
    // never retried.
    return close(file) == 0;
}

bool FlushFile(FileHandle file) { return !FaultInjected(FaultKind::Force) && fsync(file) == 0; }

void StartWriteBack(FileHandle file, int64_t offset, int64_t length) {
    sync_file_range(file, static_cast<off64_t>(offset), static_cast<off64_t>(length), SYNC_FILE_RANGE_WRITE);
}

DataForcer::~DataForcer() {
    if (Handle != -1) {
        close(static_cast<int>(Handle));
    }
}

// The descriptor that forces the file system learns of every write-back
// error from its open on, so it is opened before the files are written.
bool DataForcer::Open(const char* folder) {
    if (Handle != -1) {
        close(static_cast<int>(Handle));
        Handle = -1;
    }
    Pending = false;
    std::string path = NativePath(folder);
    int descriptor = FaultInjected(FaultKind::Open) ? -1 : open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (descriptor < 0 && errno == ENOENT && path.find('/') != std::string::npos) {
        path.resize(path.find_last_of('/') > 0 ? path.find_last_of('/') : 1);
        descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    Opened = descriptor >= 0;
    if (Opened && SyncReachesTheDisk(descriptor)) {
        Handle = descriptor;
    } else if (Opened) {
        close(descriptor);
    }
    return Opened;
}

bool DataForcer::Include(FileHandle file) {
    if (!Opened) {
        return false;
    }
    if (Handle == -1) {
        return !FaultInjected(FaultKind::Force) && fdatasync(file) == 0;
    }
    Pending = true;
    return true;
}

// One syncfs forces the data of every file of the group with a single flush
// of the disk, where forcing each file would flush it once per file.
bool DataForcer::Force() {
    const bool forced =
        Opened && (!Pending || (!FaultInjected(FaultKind::Force) && syncfs(static_cast<int>(Handle)) == 0));
    Pending = false;
    return forced;
}

bool SyncFolder(const char* folder) {
    const int descriptor = open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool synced = !FaultInjected(FaultKind::SyncFolder) && fsync(descriptor) == 0;
    close(descriptor);
    return synced;
}

uint32_t GetFileDosDateTime(FileHandle file) {
    struct stat status;
    uint32_t dosDateTime = 0;
    if (fstat(file, &status) != 0 || !ToDosDateTime(status.st_mtime, dosDateTime)) {
        return 0;
    }
    return dosDateTime;
}

bool SetFileDosDateTime(FileHandle file, uint32_t dosDateTime) {
    time_t seconds;
    if (!FromDosDateTime(dosDateTime, seconds)) {
        return false;
    }
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return futimens(file, times) == 0;
}

int LastErrorNumber() { return errno; }

bool FaultInjected(FaultKind kind) {
    if (!InjectedFault(kind)) {
        return false;
    }
    errno = EIO;
    return true;
}

void SetLastErrorNumber(int code) { errno = code; }

std::string DescribeError(int code) {
    char text[256];
    // The GNU variant, which may return a text of its own instead of filling
    // the buffer.
    return strerror_r(code, text, sizeof(text));
}

std::string NativePathText(const char* path) { return NativePath(path); }

bool PathExists(const char* path) {
    struct stat status;
    return stat(NativePath(path).c_str(), &status) == 0;
}

int64_t PathFileSize(const char* path) {
    struct stat status;
    if (stat(NativePath(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size);
}

bool DeleteFile(const char* path) { return !FaultInjected(FaultKind::Delete) && unlink(NativePath(path).c_str()) == 0; }

bool CopyFile(const char* source, const char* destination) {
    const int from = open(NativePath(source).c_str(), O_RDONLY | O_CLOEXEC | O_LARGEFILE);
    if (from < 0 || RefuseFolder(from)) {
        return false;
    }
    struct stat fromStatus;
    struct stat toStatus;
    const std::string target = NativePath(destination);
    // Copying a file onto itself would truncate it before reading it.
    if (fstat(from, &fromStatus) == 0 && stat(target.c_str(), &toStatus) == 0 && fromStatus.st_dev == toStatus.st_dev &&
        fromStatus.st_ino == toStatus.st_ino) {
        close(from);
        errno = EEXIST;
        return false;
    }
    const int to = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_LARGEFILE, 0644);
    if (to < 0) {
        const int saved = errno;
        close(from);
        errno = saved;
        return false;
    }
    const bool copied = CopyContents(from, to);
    const int saved = errno;
    close(from);
    const bool closed = close(to) == 0;
    errno = saved;
    return copied && closed;
}

bool MoveFile(const char* source, const char* destination) {
    const std::string from = NativePath(source);
    const std::string to = NativePath(destination);
    if (!FaultInjected(FaultKind::Rename) &&
        renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // The file system lacks the no-replace rename: a hard link fails on an
    // existing destination in the same way.
    if (link(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    if (unlink(from.c_str()) != 0) {
        const int saved = errno;
        unlink(to.c_str());
        errno = saved;
        return false;
    }
    return true;
}

bool ReplaceFile(const char* source, const char* destination) {
    return !FaultInjected(FaultKind::Rename) &&
           rename(NativePath(source).c_str(), NativePath(destination).c_str()) == 0;
}

bool CreateFolder(const char* path) {
    const std::string native = NativePath(path);
    if (!FaultInjected(FaultKind::CreateFolder) && mkdir(native.c_str(), 0755) == 0) {
        return true;
    }
    struct stat status;
    const int saved = errno;
    if (saved == EEXIST && stat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        return true;
    }
    errno = saved;
    return false;
}

bool ListFolder(const char* path, std::vector<std::string>& names) {
    names.clear();
    DIR* directory = opendir(NativePath(path).c_str());
    if (directory == nullptr) {
        return false;
    }
    while (const dirent* entry = readdir(directory)) {
        names.emplace_back(entry->d_name);
    }
    closedir(directory);
    return true;
}

bool DeleteFolderEntry(const char* folder, const char* name) {
    if (name[0] == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        std::strchr(name, '/') != nullptr) {
        errno = EINVAL;
        return false;
    }
    const int directory = open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        return false;
    }
    const bool deleted = !FaultInjected(FaultKind::Delete) && unlinkat(directory, name, 0) == 0;
    const int saved = errno;
    close(directory);
    errno = saved;
    return deleted;
}

std::string CurrentDirectory() {
    std::string buffer(256, '\0');
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(buffer.find('\0'));
            return buffer;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) {
            return std::string();
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
