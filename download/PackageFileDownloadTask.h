#pragma once

#include <cstdint>

#include "download/DownloadTask.h"
#include "foundation/StringClass.h"

class FileClass;
struct PackageFileInfo;

// Fetches one content file from a repository into "<content path>.part" in
// the store and moves it to the content path when it has arrived whole;
// otherwise the part file is deleted.
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
    bool finished = false;
};
