#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "download/DownloadTaskObserver.h"
#include "download/MemoryDownloadTask.h"
#include "download/Observee.h"
#include "download/PackageFileDownloadTask.h"
#include "download/PackageInfoDownloadTask.h"
#include "download/SignedManifestCheck.h"
#include "foundation/SimpleVecClass.h"
#include "foundation/StringClass.h"

class Package;
class PackageDownloadTask;

// The download of one package: its package-info file when the package
// manager does not know the package, then every content file the store
// lacks. Shared by everyone who wants the same package at the same time, and
// owned by them collectively (DownloadTaskRegistry).
class PackageDownloadTask : public DownloadTaskObserver<PackageInfoDownloadTask>,
                            public DownloadTaskObserver<PackageFileDownloadTask>,
                            public DownloadTaskObserver<MemoryDownloadTask>,
                            public Observee<DownloadTaskObserver<PackageDownloadTask>> {
public:
    // The download of the package `packageName`: the name is the package, its
    // identifier only finds it.
    PackageDownloadTask(const char* packageName, const char* repositoryUrl);
    // Leaves the info and file tasks; those nobody else waits for are
    // cancelled and released.
    ~PackageDownloadTask() override;
    PackageDownloadTask(const PackageDownloadTask&) = delete;
    PackageDownloadTask& operator=(const PackageDownloadTask&) = delete;

    // Looks the package up and queues what is missing; when nothing is, the
    // observers learn the result before this returns. A second call does
    // nothing.
    void Start();

    // Sums over the info task and every file task (a file listed twice
    // counts twice); read while the worker adds to them.
    uint32_t GetReceivedBytes() const;
    uint32_t GetTotalBytes() const;

    void OnDownloadFinished(PackageInfoDownloadTask* task, bool succeeded) override;
    void OnDownloadFinished(PackageFileDownloadTask* task, bool succeeded) override;
    void OnDownloadFinished(MemoryDownloadTask* task, bool succeeded) override;

    uint32_t GetPackageId() const { return packageId; }
    const StringClass& GetPackageName() const { return packageName; }
    // Why the download failed: a transfer's URL and cause, or the check that
    // refused a file. Empty when it succeeded or when a call on the store
    // failed, which notes its own cause (StoreFailure). No line end.
    const StringClass& GetFailureReason() const { return failureReason; }
    // Set once a result has been announced; a finished task is never shared.
    bool IsFinished() const { return finished; }
    PackageInfoDownloadTask* GetInfoTask() const { return infoTask; }
    int GetFileTaskCount() const { return fileTasks.Count(); }
    PackageFileDownloadTask* GetFileTask(int index) const { return fileTasks[index]; }

private:
    PackageInfoDownloadTask* StartInfoDownload(DownloadTaskObserver<PackageInfoDownloadTask>* observer);
    void DownloadFiles(const Package& package);
    // Whether the content file must be fetched; false with the failure
    // reason set when the store's file of that name forbids the download.
    bool NeedsFetch(const PackageFileInfo& fileInfo, const StringClass& path,
                    const platform::Sha256Digest* signedDigest, bool& fetch);
    MemoryDownloadTask* StartMemoryDownload(const char* fileName, size_t maximumSize);
    void CheckSignedManifest();
    // Goes on once the repository is known to be trusted or not.
    void StartPackage();
    // Stops observing a file task; the last observer to go cancels it and
    // drops the reference that the observers share.
    void LeaveFileTask(PackageFileDownloadTask* task);
    void Announce(bool succeeded);
    void Refuse(const StringClass& reason);
    DownloadTaskObserver<PackageFileDownloadTask>* AsFileObserver() { return this; }
    DownloadTaskObserver<PackageInfoDownloadTask>* AsInfoObserver() { return this; }
    DownloadTaskObserver<MemoryDownloadTask>* AsManifestObserver() { return this; }
    // The bases' dispatch from DownloadTask* stays in scope next to the two
    // overloads above instead of being hidden by them.
    using DownloadTaskObserver<PackageInfoDownloadTask>::OnDownloadFinished;
    using DownloadTaskObserver<PackageFileDownloadTask>::OnDownloadFinished;
    using DownloadTaskObserver<MemoryDownloadTask>::OnDownloadFinished;

    StringClass packageName;
    uint32_t packageId;
    StringClass repositoryUrl;
    StringClass failureReason;
    PackageInfoDownloadTask* infoTask = nullptr;
    SimpleDynVecClass<PackageFileDownloadTask*> fileTasks;
    int32_t filesCompleted = 0;
    // The keys bound to the repository; none for one that is not trusted.
    std::vector<std::vector<uint8_t>> trustedKeys;
    MemoryDownloadTask* manifestTask = nullptr;
    MemoryDownloadTask* signatureTask = nullptr;
    int manifestPartsArrived = 0;
    SignedManifestCheck signedManifest;
    // Set once the signed manifest passed: every file must then have the
    // SHA-256 it lists.
    bool trusted = false;
    bool started = false;
    bool finished = false;
};
