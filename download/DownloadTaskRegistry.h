#pragma once

#include "platform/Crypto.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "download/DownloadTaskObserver.h"
#include "foundation/SimpleVecClass.h"

class PackageDownloadTask;
class PackageFileDownloadTask;
struct PackageFileInfo;

// The live package and content-file downloads of the process, so that two
// requests for the same package, or two packages listing the same content
// file, share one download.
class DownloadTaskRegistry {
public:
    static DownloadTaskRegistry* GetInstance();

    DownloadTaskRegistry() = default;
    DownloadTaskRegistry(const DownloadTaskRegistry&) = delete;
    DownloadTaskRegistry& operator=(const DownloadTaskRegistry&) = delete;

    // Joins the unfinished download of the package (its name but for ASCII
    // letter case) or creates one (not yet started), with the observer
    // attached.
    PackageDownloadTask* AcquirePackageTask(const char* packageName, const char* repositoryUrl,
                                            DownloadTaskObserver<PackageDownloadTask>* observer);
    // Detaches the observer; the last one to leave destroys the task.
    void ReleasePackageTask(DownloadTaskObserver<PackageDownloadTask>* observer, PackageDownloadTask* task);

    // Joins the unfinished download of the same content path (letter case
    // ignored) or creates and queues one, with the observer attached. A new
    // one fetches into the part file that DirectoryStructure names for
    // partNameTaken, and checks the signed digest when there is one.
    PackageFileDownloadTask* AcquireFileTask(const PackageFileInfo& fileInfo, const char* repositoryUrl,
                                             DownloadTaskObserver<PackageFileDownloadTask>* observer,
                                             bool partNameTaken = false,
                                             const platform::Sha256Digest* signedDigest = nullptr);
    // Forgets a file task that nobody observes any more.
    void RemoveFileTask(PackageFileDownloadTask* task);

    int GetPackageTaskCount() const { return packageTasks.Count(); }
    int GetFileTaskCount() const { return static_cast<int>(fileTasks.size()); }

private:
    SimpleDynVecClass<PackageDownloadTask*> packageTasks;
    // A package may list a hundred thousand files, so finding the task of a
    // path must not walk the others. Every live file task is in fileTasks;
    // sharedFileTasks holds, under its ASCII-lower-cased content path, the
    // latest task made for each path, which is shared while it is unfinished.
    std::unordered_set<PackageFileDownloadTask*> fileTasks;
    std::unordered_map<std::string, PackageFileDownloadTask*> sharedFileTasks;
};
