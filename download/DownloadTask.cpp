#include "download/DownloadTask.h"

#include "download/EscapeUrlPath.h"
#include "download/InternetHandle.h"
#include "platform/HttpClient.h"

namespace {

constexpr uint32_t RangeNotSatisfiable = 416;

StringClass DescribeStatus(bool answered, uint32_t status) {
    return answered ? FormatString("the server answered with HTTP status %u", static_cast<unsigned>(status))
                    : StringClass("the server's answer carries no status");
}

}  // namespace

void DownloadTask::Run() {
    lengthAnnounced = false;
    OnStart();
    platform::HttpRequest* request = platform::OpenHttpRequest(GetInternetHandle(), url, firstByte, &cancelled);
    uint32_t status = 0;
    const bool answered = request != nullptr && platform::QueryHttpStatus(request, &status);
    if (request == nullptr) {
        NoteTransferFailure(platform::DescribeHttpFailure(GetInternetHandle()).c_str());
    } else if (!answered || (status != 200 && !(status == 206 && firstByte != 0))) {
        NoteTransferFailure(DescribeStatus(answered, status));
        if (status == RangeNotSatisfiable && firstByte != 0) {
            OnRestBeyondTheEnd();
        }
    }
    InternetHandle* handle = request != nullptr ? OpenUrl(request) : nullptr;
    if (handle != nullptr) {
        // Only a plain 200, or a 206 with the rest that was asked for, carries
        // the file; other 2xx answers passed OpenUrl but have nothing to read.
        uint32_t offset = 0;
        if (answered && FindBodyStart(handle->Get(), status, &offset)) {
            uint32_t length = 0;
            // Without a Content-Length the preset size stays.
            const bool announced =
                platform::QueryHttpContentLength(handle->Get(), &length) && length <= UINT32_MAX - offset;
            lengthAnnounced = announced;
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
        NoteTransferFailure(
            FormatString("the server answered the request for the bytes from %u on with another part of the file",
                         static_cast<unsigned>(firstByte)));
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
