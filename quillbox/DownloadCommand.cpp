#include <cstdint>
#include <string>

#include "download/DownloadManager.h"
#include "download/DownloadTaskRegistry.h"
#include "download/EscapeUrlPath.h"
#include "download/PackageDownloadTask.h"
#include "foundation/StringClass.h"
#include "package/StoreFailure.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"
#include "quillbox/DownloadProgress.h"
#include "quillbox/SimplePackageDownloadObserver.h"

namespace {

constexpr int PollIntervalMilliseconds = 100;

}  // namespace

int RunDownload(const char* packageName, const char* repositoryUrl) {
    bool finished = false;
    bool success = false;
    SimplePackageDownloadObserver observer(&finished, &success);

    DownloadManager* manager = DownloadManager::GetInstance();
    manager->StartWorker();
    DownloadTaskRegistry* registry = DownloadTaskRegistry::GetInstance();
    PackageDownloadTask* task = registry->AcquirePackageTask(packageName, repositoryUrl, &observer);
    task->Start();

    // The last line is printed after the result is known, so it shows the
    // final counts. A worker that has run out of work cuts the wait short:
    // what follows a finished transfer (the content files after the
    // package-info file, or the result) then need not wait for the next tick.
    for (;;) {
        manager->Update();
        PrintOut("%s", FormatDownloadProgress(task->GetReceivedBytes(), task->GetTotalBytes()).Peek());
        FlushOut();
        if (finished) {
            break;
        }
        manager->WaitForIdleWorker(PollIntervalMilliseconds);
    }

    const StringClass reason = task->GetFailureReason();
    registry->ReleasePackageTask(&observer, task);
    if (success) {
        PrintOut("Package '%s' was successfully downloaded and installed.\r\n", packageName);
    } else {
        PrintError("Failed to download package '%s' from repository '%s'.\r\n", packageName,
                   WithoutPassword(repositoryUrl).Peek());
        // One cause line: the download's own, else the store call that failed
        // under it. Told here, it is not told again when the command ends.
        const StringClass cause = reason.IsEmpty() ? DescribeStoreFailure() : reason;
        if (!cause.IsEmpty()) {
            PrintError("%s\r\n", cause.Peek());
        }
        ForgetStoreFailure();
    }
    manager->Shutdown();
    return success ? 0 : 1;
}
