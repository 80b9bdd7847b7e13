#pragma once

#include <atomic>
#include <cstdint>

#include "download/DownloadTaskObserver.h"
#include "download/Observee.h"
#include "download/RefCountClass.h"
#include "foundation/StringClass.h"
#include "platform/HttpClient.h"

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
    // Worker thread: the size of the whole file that an answer announces (a
    // 200's Content-Length, or firstByte and a 206's), before it becomes
    // totalSize. False refuses the body: the transfer fails unread, with the
    // reason the subclass gives.
    virtual bool AcceptsLength(uint32_t) { return true; }
    // Worker thread: a 206 answer to the request for the rest from
    // firstByte, with the Content-Range it carries (null when none).
    // False refuses it: the transfer fails unread.
    virtual bool AcceptsRest(const platform::HttpContentRange* /*range*/) { return false; }
    // Worker thread: the body that follows begins at byte `offset` of the
    // file: firstByte for the rest, 0 when the server sends it whole after
    // all. False refuses it.
    virtual bool BeginsBody(uint32_t /*offset*/) { return true; }
    // Worker thread: the server answered the request for the rest from
    // firstByte with 416: the file it has ends before that byte.
    virtual void OnRestBeyondTheEnd() {}
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

protected:
    // Set by OnStart: the bytes of the file already held, whose rest is asked
    // for ("Range: bytes=N-"); 0 fetches the whole file.
    uint32_t firstByte = 0;
    // Set by Run: the answer announced its length, so a body that ended is
    // the whole answer rather than maybe a connection that closed early.
    bool lengthAnnounced = false;
    // A transfer begun again from the start has its own reason to fail.
    void ForgetFailureReason() { failureReason = StringClass(); }

private:
    // Where the body of an answer of that status begins in the file; false
    // when the answer carries no body to take.
    bool FindBodyStart(platform::HttpRequest* request, uint32_t status, uint32_t* offset);
    void ReceiveBody(InternetHandle* handle);
    // A failure of the transfer itself; one that a cancel caused is the
    // canceller's to explain.
    void NoteTransferFailure(const char* cause);

    StringClass failureReason;
};
