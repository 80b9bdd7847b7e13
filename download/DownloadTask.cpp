#include "download/DownloadTask.h"

#include "download/InternetHandle.h"
#include "platform/HttpClient.h"

void DownloadTask::Run() {
    OnStart();
    platform::HttpRequest* request = platform::OpenHttpRequest(GetInternetHandle(), url, firstByte, &cancelled);
    InternetHandle* handle = request != nullptr ? OpenUrl(request) : nullptr;
    if (handle != nullptr) {
        // Only a plain 200, or a 206 with the rest that was asked for, carries
        // the file; other 2xx answers passed OpenUrl but have nothing to read.
        uint32_t status = 0;
        uint32_t offset = 0;
        if (platform::QueryHttpStatus(handle->Get(), &status) && FindBodyStart(handle->Get(), status, &offset)) {
            uint32_t length = 0;
            // Without a Content-Length the preset size stays.
            const bool announced =
                platform::QueryHttpContentLength(handle->Get(), &length) && length <= UINT32_MAX - offset;
            if ((!announced || AcceptsLength(offset + length)) && BeginsBody(offset)) {
                if (announced) {
                    totalSize = offset + length;
                }
                ReceiveBody(handle);
            }
        }
        delete handle;
    }
    OnFinish();
}

bool DownloadTask::FindBodyStart(platform::HttpRequest* request, uint32_t status, uint32_t* offset) {
    if (status == 200) {
        *offset = 0;
        return true;
    }
    if (status != 206 || firstByte == 0) {
        return false;
    }
    platform::HttpContentRange range;
    const bool described = platform::QueryHttpContentRange(request, &range);
    if (!AcceptsRest(described ? &range : nullptr)) {
        return false;
    }
    *offset = firstByte;
    return true;
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
