#pragma once

#include "download/DownloadTaskObserver.h"
#include "download/PackageDownloadTask.h"

// The download command's observer of one package download: it records the
// outcome in two flags that the command owns and polls.
class SimplePackageDownloadObserver : public DownloadTaskObserver<PackageDownloadTask> {
public:
    SimplePackageDownloadObserver(bool* finishedFlag, bool* successFlag)
        : finishedFlag(finishedFlag), successFlag(successFlag) {}

    void OnDownloadFinished(PackageDownloadTask* task, bool succeeded) override;

private:
    bool* finishedFlag;
    bool* successFlag;
};
