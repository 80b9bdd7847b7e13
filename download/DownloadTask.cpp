#include "download/DownloadTask.h"

#include "download/EscapeUrlPath.h"
#include "download/InternetHandle.h"
#include "platform/HttpClient.h"

namespace {

StringClass DescribeStatus(bool answered, uint32_t status) {
    return answered ? FormatString("the server answered with HTTP status %u", static_cast<unsigned>(status))
                    : StringClass("the server's answer carries no status");
}

}  // namespace

void DownloadTask::Run() {
    OnStart();
    platform::HttpRequest* request = platform::OpenHttpRequest(GetInternetHandle(), url, &cancelled);
    uint32_t status = 0;
    const bool answered = request != nullptr && platform::QueryHttpStatus(request, &status);
    if (request == nullptr) {
        NoteTransferFailure(platform::DescribeHttpFailure(GetInternetHandle()).c_str());
    } else if (!answered || status != 200) {
        NoteTransferFailure(DescribeStatus(answered, status));
    }
    InternetHandle* handle = request != nullptr ? OpenUrl(request) : nullptr;
    if (handle != nullptr) {
        // Only a plain 200 carries the file; other 2xx answers passed OpenUrl but
        // have nothing to read.
        if (answered && status == 200) {
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
            NoteTransferFailure(platform::DescribeHttpFailure(GetInternetHandle()).c_str());
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

void DownloadTask::SetFailureReason(const StringClass& reason) {
    if (failureReason.IsEmpty()) {
        failureReason = reason;
    }
}

void DownloadTask::NoteTransferFailure(const char* cause) {
    if (!cancelled) {
        SetFailureReason(FormatString("Could not fetch '%s': %s.", WithoutPassword(url).Peek(), cause));
    }
}
