#pragma once

#include <cstdint>

#include "download/DownloadTask.h"
#include "foundation/Crc32.h"
#include "foundation/StringClass.h"

class FileClass;
struct PackageFileInfo;

// Fetches one content file from a repository into "<content path>.part" in
// the store and moves it to the content path when it has arrived whole and
// has the CRC-32 the package-info file lists; otherwise the part file is
// deleted.
class PackageFileDownloadTask : public DownloadTask {
public:
    PackageFileDownloadTask(const char* repositoryUrl, const PackageFileInfo& fileInfo);
    ~PackageFileDownloadTask() override;

    void OnStart() override;
    void OnFinish() override;
    void OnData(const char* data, int length) override;
    void Complete() override;

    const StringClass& GetContentPath() const { return contentPath; }
    // Set once Complete has run; a finished task is never shared again.
    bool IsFinished() const { return finished; }

private:
    bool StorePartFile();

    StringClass repositoryUrl;
    StringClass contentPath;
    StringClass partPath;
    FileClass* partFile;
    uint32_t listedCrc;
    Crc32 receivedCrc;
    bool finished = false;
};
