#pragma once

#include <atomic>
#include <cstdint>

#include "download/DownloadTaskObserver.h"
#include "download/Observee.h"
#include "download/RefCountClass.h"
#include "foundation/StringClass.h"

class InternetHandle;

// Fetches one URL over HTTP block by block on the download manager's worker
// and hands every block to the subclass. Observers learn the result later,
// on the thread that polls the manager.
class DownloadTask : public RefCountClass, public Observee<DownloadTaskObserver<DownloadTask>> {
public:
    enum State { Queued = 0, Running = 1, Finished = 2 };
    static constexpr int BlockSize = 32768;

    DownloadTask() = default;
    ~DownloadTask() override = default;

    // Worker thread: before the URL is opened, for every block received
    // (length > 0), and after the transfer whatever its outcome.
    virtual void OnStart() = 0;
    virtual void OnFinish() = 0;
    virtual void OnData(const char* data, int length) = 0;
    // Worker thread: the Content-Length of a 200 answer, before it becomes
    // totalSize. False refuses the body: the transfer fails unread, with the
    // reason the subclass gives.
    virtual bool AcceptsLength(uint32_t) { return true; }
    // Polling thread: tells every observer whether the transfer succeeded.
    // Subclasses act on the result first, then call this.
    virtual void Complete();
    // Worker thread: the transfer.
    virtual void Run();
    // Why the task failed, one sentence without a line end: the file's URL
    // with the HTTP status or the transport's reason, or the subclass's check
    // that refused the body. Empty when it succeeded or when a call on the
    // store failed, which notes its own cause (StoreFailure). Read as
    // `succeeded` is.
    const StringClass& GetFailureReason() const { return failureReason; }
    // Keeps the first reason only: what fails after it follows from it.
    void SetFailureReason(const StringClass& reason);

    StringClass url;
    // Read by the polling thread for progress while the worker writes them.
    std::atomic<uint32_t> totalSize{0};
    std::atomic<int32_t> receivedSize{0};
    // Written by Run only; the polling thread reads it after the manager has
    // seen the task Finished, which orders the two.
    bool succeeded = false;
    // Set by others to stop the transfer between blocks or keep it from starting.
    std::atomic<bool> cancelled{false};
    // Scheduling state, driven by the download manager.
    std::atomic<int32_t> state{Queued};

private:
    void ReceiveBody(InternetHandle* handle);
    // A failure of the transfer itself; one that a cancel caused is the
    // canceller's to explain.
    void NoteTransferFailure(const char* cause);

    StringClass failureReason;
};
