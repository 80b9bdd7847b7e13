#pragma once

#include <string>

namespace testsupport {

// A memory file system of a fixed size mounted on a folder, so that tests can
// run a program out of disk space. Mounting needs root; where it is refused
// the object is not mounted and the test skips. On Linux, and under Wine
// through the host system.
class SmallDisk {
public:
    // Creates the folder when missing and mounts sizeBytes of space on it.
    SmallDisk(const std::string& folder, long sizeBytes);
    // Unmounts the folder; what was on the disk is gone with it.
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool IsMounted() const { return Mounted; }
    // Why mounting failed, for the skip message.
    const std::string& Failure() const { return Reason; }
    // Fills the disk with one file, leaving no more than leaveBytes free.
    bool Fill(const std::string& fillerPath, long leaveBytes);
    long FreeBytes() const;
    // Mounts the disk again read-only: what it holds stays and can be read,
    // nothing can be written, not even by root.
    bool MakeReadOnly();

private:
    std::string Folder;
    bool Mounted = false;
    std::string Reason;
};

}  // namespace testsupport
