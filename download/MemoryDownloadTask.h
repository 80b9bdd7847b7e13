#pragma once

#include <cstddef>
#include <string>

#include "download/DownloadTask.h"

// Fetches one small file of a repository into memory, up to a bound: a body
// that would pass it (a hostile or broken server) fails the transfer.
class MemoryDownloadTask : public DownloadTask {
public:
    MemoryDownloadTask(const char* fileUrl, size_t maximumSize);

    void OnStart() override { body.clear(); }
    void OnFinish() override {}
    void OnData(const char* data, int length) override;
    bool AcceptsLength(uint32_t length) override;

    // What arrived; whole only when the task succeeded.
    const std::string& GetBody() const { return body; }

private:
    void RefuseSize();

    size_t maximumSize;
    std::string body;
};
