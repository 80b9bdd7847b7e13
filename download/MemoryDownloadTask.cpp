#include "download/MemoryDownloadTask.h"

MemoryDownloadTask::MemoryDownloadTask(const char* fileUrl, size_t maximumSize) : maximumSize(maximumSize) {
    url = fileUrl;
}

void MemoryDownloadTask::OnData(const char* data, int length) {
    if (body.size() + static_cast<size_t>(length) > maximumSize) {
        cancelled = true;
        return;
    }
    body.append(data, static_cast<size_t>(length));
}
