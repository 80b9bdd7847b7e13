#include "download/MemoryDownloadTask.h"

#include "download/EscapeUrlPath.h"

MemoryDownloadTask::MemoryDownloadTask(const char* fileUrl, size_t maximumSize) : maximumSize(maximumSize) {
    url = fileUrl;
}

void MemoryDownloadTask::OnData(const char* data, int length) {
    if (body.size() + static_cast<size_t>(length) > maximumSize) {
        RefuseSize();
        cancelled = true;
        return;
    }
    body.append(data, static_cast<size_t>(length));
}

bool MemoryDownloadTask::AcceptsLength(uint32_t length) {
    if (length <= maximumSize) {
        return true;
    }
    RefuseSize();
    return false;
}

void MemoryDownloadTask::RefuseSize() {
    SetFailureReason(FormatString("Could not fetch '%s': it is larger than %lu bytes.", WithoutPassword(url).Peek(),
                                  static_cast<unsigned long>(maximumSize)));
}
