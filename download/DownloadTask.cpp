#include "download/DownloadTask.h"

#include "download/InternetHandle.h"
#include "platform/HttpClient.h"

void DownloadTask::Run() {
    OnStart();
    platform::HttpRequest* request = platform::OpenHttpRequest(GetInternetHandle(), url, &cancelled);
    InternetHandle* handle = request != nullptr ? OpenUrl(request) : nullptr;
    if (handle != nullptr) {
        // Only a plain 200 carries the file; other 2xx answers passed OpenUrl but
        // have nothing to read.
        uint32_t status = 0;
        if (platform::QueryHttpStatus(handle->Get(), &status) && status == 200) {
            uint32_t length = 0;
            // Without a Content-Length the preset size stays.
            const bool announced = platform::QueryHttpContentLength(handle->Get(), &length);
            if (!announced || AcceptsLength(length)) {
                if (announced) {
                    totalSize = length;
                }
                ReceiveBody(handle);
            }
        }
        delete handle;
    }
    OnFinish();
}

void DownloadTask::ReceiveBody(InternetHandle* handle) {
    char block[BlockSize];
    while (!cancelled) {
        int count = 0;
        if (!platform::ReadHttpBody(handle->Get(), block, BlockSize, &count)) {
            return;
        }
        if (count == 0) {
            succeeded = true;
            return;
        }
        receivedSize.fetch_add(count);
        OnData(block, count);
    }
}

void DownloadTask::Complete() {
    const bool result = succeeded && !cancelled;
    NotifyObservers(
        [this, result](DownloadTaskObserver<DownloadTask>* observer) { observer->OnDownloadFinished(this, result); });
}
