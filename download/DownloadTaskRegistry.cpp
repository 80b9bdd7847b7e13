#include "download/DownloadTaskRegistry.h"

#include "download/DownloadManager.h"
#include "download/PackageDownloadTask.h"
#include "download/PackageFileDownloadTask.h"
#include "package/DirectoryStructure.h"

namespace {

char LowerAscii(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

// Store paths name the same file whatever their letter case.
std::string PathKey(const char* path) {
    std::string key(path);
    for (char& character : key) {
        character = LowerAscii(character);
    }
    return key;
}

}  // namespace

DownloadTaskRegistry* DownloadTaskRegistry::GetInstance() {
    static DownloadTaskRegistry instance;
    return &instance;
}

PackageDownloadTask* DownloadTaskRegistry::AcquirePackageTask(const char* packageName, const char* repositoryUrl,
                                                              DownloadTaskObserver<PackageDownloadTask>* observer) {
    for (int index = 0; index < packageTasks.Count(); ++index) {
        PackageDownloadTask* task = packageTasks[index];
        if (!task->IsFinished() && EqualsIgnoringAsciiCase(task->GetPackageName(), packageName)) {
            task->AddObserver(observer);
            return task;
        }
    }
    PackageDownloadTask* task = new PackageDownloadTask(packageName, repositoryUrl);
    // Unlisted, the task is merely not shared; its release still deletes it.
    packageTasks.Add(task);
    task->AddObserver(observer);
    return task;
}

void DownloadTaskRegistry::ReleasePackageTask(DownloadTaskObserver<PackageDownloadTask>* observer,
                                              PackageDownloadTask* task) {
    task->RemoveObserver(observer);
    if (task->GetObserverCount() > 0) {
        return;
    }
    packageTasks.Delete(task);
    delete task;
}

PackageFileDownloadTask* DownloadTaskRegistry::AcquireFileTask(const PackageFileInfo& fileInfo,
                                                               const char* repositoryUrl,
                                                               DownloadTaskObserver<PackageFileDownloadTask>* observer,
                                                               bool partNameTaken,
                                                               const platform::Sha256Digest* signedDigest) {
    PackageFileDownloadTask*& shared = sharedFileTasks[PathKey(GetDirectoryStructure().GetContentFilePath(fileInfo))];
    if (shared != nullptr && !shared->IsFinished()) {
        shared->AddObserver(observer);
        return shared;
    }
    // A finished task of the path is no longer shared; it stays in fileTasks
    // until its observers leave.
    shared = new PackageFileDownloadTask(repositoryUrl, fileInfo, partNameTaken, signedDigest);
    fileTasks.insert(shared);
    shared->AddObserver(observer);
    DownloadManager::GetInstance()->AddTask(shared);
    return shared;
}

void DownloadTaskRegistry::RemoveFileTask(PackageFileDownloadTask* task) {
    if (fileTasks.erase(task) == 0) {
        return;
    }
    const auto shared = sharedFileTasks.find(PathKey(task->GetContentPath()));
    if (shared != sharedFileTasks.end() && shared->second == task) {
        sharedFileTasks.erase(shared);
    }
}
