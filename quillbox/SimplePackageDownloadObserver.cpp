#include "quillbox/SimplePackageDownloadObserver.h"

void SimplePackageDownloadObserver::OnDownloadFinished(PackageDownloadTask*, bool succeeded) {
    *finishedFlag = true;
    *successFlag = succeeded;
}
