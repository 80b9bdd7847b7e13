#pragma once

#include <cstdint>

#include "download/DownloadTask.h"
#include "foundation/Crc32.h"
#include "foundation/StringClass.h"
#include "package/DurableStore.h"
#include "platform/Crypto.h"

class FileClass;
struct PackageFileInfo;

// Fetches one content file from a repository into its part file in the store
// ("<content path>.part", or another name where that one is taken). When it
// has arrived whole with the CRC-32 the package-info file lists, it waits in
// the content batch, which gives it the content path once its data is on the
// disk; otherwise the part file is deleted.
class PackageFileDownloadTask : public DownloadTask {
public:
    // With a signed digest (from a trusted repository's manifest) the file
    // must have that SHA-256 too, hashed as it arrives.
    PackageFileDownloadTask(const char* repositoryUrl, const PackageFileInfo& fileInfo, bool partNameTaken = false,
                            const platform::Sha256Digest* signedDigest = nullptr);
    ~PackageFileDownloadTask() override;

    void OnStart() override;
    void OnFinish() override;
    void OnData(const char* data, int length) override;
    bool AcceptsLength(uint32_t length) override;
    void Complete() override;

    const StringClass& GetContentPath() const { return contentPath; }
    // Set once Complete has run; a finished task is never shared again.
    bool IsFinished() const { return finished; }

private:
    bool HoldPartFile();

    StringClass repositoryUrl;
    StringClass contentPath;
    StringClass partPath;
    FileClass* partFile;
    uint32_t listedCrc;
    // The size the package lists, which alone makes the file whole; totalSize
    // is only the progress total, which the server's Content-Length replaces.
    uint32_t listedSize;
    Crc32 receivedCrc;
    bool isSigned = false;
    platform::Sha256Digest signedDigest{};
    platform::Sha256 receivedSha256;
    WriteBackPacer pacer;
    bool finished = false;
};
