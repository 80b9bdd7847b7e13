#include "support/SmallDisk.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <vector>

#include "support/win32/HostCommand.h"

// Windows cannot mount a file system of a given size on a folder; under Wine
// the host system's mount command does it.
namespace testsupport {

SmallDisk::SmallDisk(const std::string& folder, long sizeBytes) : Folder(folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string hostFolder = HostPath(folder);
    if (hostFolder.empty()) {
        Reason = "a small file system can only be mounted under Wine, through the host system";
        return;
    }
    const std::string script = "mount -t tmpfs -o \"size=$2,mode=0755,nosuid,nodev\" tmpfs \"$1\"";
    const HostCommandResult mounted = RunHostScript(script, {hostFolder, std::to_string(sizeBytes)});
    if (mounted.finished && mounted.exitCode == 0) {
        Mounted = true;
    } else {
        Reason = "cannot mount a small file system on " + folder + ": " +
                 (mounted.finished ? mounted.output : std::string("the host's mount command did not run"));
    }
}

SmallDisk::~SmallDisk() {
    if (Mounted) {
        // A program still writing there keeps it busy; detach it all the same.
        RunHostScript("umount \"$1\" 2>/dev/null || umount -l \"$1\"", {HostPath(Folder)});
    }
}

bool SmallDisk::Fill(const std::string& fillerPath, long leaveBytes) {
    const HANDLE file = CreateFileA(fillerPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::vector<char> block(4096, 'f');
    bool ok = true;
    while (ok && FreeBytes() > leaveBytes) {
        const long wanted = std::min<long>(static_cast<long>(block.size()), FreeBytes() - leaveBytes);
        DWORD written = 0;
        ok = ::WriteFile(file, block.data(), static_cast<DWORD>(wanted), &written, nullptr) && written > 0;
    }
    CloseHandle(file);
    return FreeBytes() <= leaveBytes;
}

bool SmallDisk::MakeReadOnly() {
    if (!Mounted) {
        return false;
    }
    const HostCommandResult remounted = RunHostScript("mount -o remount,ro \"$1\"", {HostPath(Folder)});
    return remounted.finished && remounted.exitCode == 0;
}

long SmallDisk::FreeBytes() const {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(Folder.c_str(), &available, nullptr, nullptr)) {
        return -1;
    }
    return static_cast<long>(std::min<ULONGLONG>(available.QuadPart, LONG_MAX));
}

}  // namespace testsupport
