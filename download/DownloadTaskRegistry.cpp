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
bool SamePath(const char* first, const char* second) {
    for (; *first != 0 && *second != 0; ++first, ++second) {
        if (LowerAscii(*first) != LowerAscii(*second)) {
            return false;
        }
    }
    return *first == *second;
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
                                                               bool partNameTaken) {
    const StringClass contentPath = GetDirectoryStructure().GetContentFilePath(fileInfo);
    for (int index = 0; index < fileTasks.Count(); ++index) {
        PackageFileDownloadTask* task = fileTasks[index];
        if (!task->IsFinished() && SamePath(task->GetContentPath(), contentPath)) {
            task->AddObserver(observer);
            return task;
        }
    }
    PackageFileDownloadTask* task = new PackageFileDownloadTask(repositoryUrl, fileInfo, partNameTaken);
    fileTasks.Add(task);
    task->AddObserver(observer);
    DownloadManager::GetInstance()->AddTask(task);
    return task;
}

void DownloadTaskRegistry::RemoveFileTask(PackageFileDownloadTask* task) { fileTasks.Delete(task); }
