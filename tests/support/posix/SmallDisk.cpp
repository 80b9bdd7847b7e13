#include "support/SmallDisk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace testsupport {

SmallDisk::SmallDisk(const std::string& folder, long sizeBytes) : Folder(folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string options = "size=" + std::to_string(sizeBytes) + ",mode=0755";
    if (mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
        Mounted = true;
    } else {
        Reason = "cannot mount a small file system on " + folder + ": " + std::strerror(errno);
    }
}

SmallDisk::~SmallDisk() {
    if (Mounted) {
        // A program still writing there keeps it busy; detach it all the same.
        if (umount(Folder.c_str()) != 0) {
            umount2(Folder.c_str(), MNT_DETACH);
        }
    }
}

bool SmallDisk::Fill(const std::string& fillerPath, long leaveBytes) {
    const int file = open(fillerPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (file < 0) {
        return false;
    }
    std::vector<char> block(4096, 'f');
    bool ok = true;
    while (ok && FreeBytes() > leaveBytes) {
        const long wanted = std::min<long>(static_cast<long>(block.size()), FreeBytes() - leaveBytes);
        ok = write(file, block.data(), static_cast<size_t>(wanted)) > 0;
    }
    close(file);
    return FreeBytes() <= leaveBytes;
}

bool SmallDisk::MakeReadOnly() {
    return Mounted &&
           mount("tmpfs", Folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0;
}

long SmallDisk::FreeBytes() const {
    struct statvfs status;
    if (statvfs(Folder.c_str(), &status) != 0) {
        return -1;
    }
    return static_cast<long>(status.f_bavail * status.f_frsize);
}

}  // namespace testsupport
