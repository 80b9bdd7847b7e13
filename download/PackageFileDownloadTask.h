#pragma once

#include <cstdint>

#include "download/DownloadTask.h"
#include "foundation/Crc32.h"
#include "foundation/StringClass.h"
#include "package/DurableStore.h"
#include "platform/Crypto.h"

class FileClass;
struct PackageFileInfo;

// Fetches one content file from a repository into its part file in the store
// ("<content path>.part", or another name where that one is taken). A part
// file that an interrupted run left is continued: only the rest is asked
// for, and its bytes count into the checksums of the whole file. When the
// file has arrived whole with the CRC-32 the package-info file lists, it
// waits in the content batch, which gives it the content path once its data
// is on the disk. A continued file that is not the listed one is fetched
// once more from the start; an interrupted transfer keeps its part file for
// the next run, and any other part file is deleted.
class PackageFileDownloadTask : public DownloadTask {
public:
    // With a signed digest (from a trusted repository's manifest) the file
    // must have that SHA-256 too, hashed as it arrives.
    PackageFileDownloadTask(const char* repositoryUrl, const PackageFileInfo& fileInfo, bool partNameTaken = false,
                            const platform::Sha256Digest* signedDigest = nullptr);
    ~PackageFileDownloadTask() override;

    void OnStart() override;
    void OnFinish() override;
    void OnData(const char* data, int length) override;
    bool AcceptsLength(uint32_t length) override;
    bool AcceptsRest(const platform::HttpContentRange* range) override;
    bool BeginsBody(uint32_t offset) override;
    void OnRestBeyondTheEnd() override;
    void Complete() override;
    void Run() override;

    // Deletes the part files that an earlier run left for a content file
    // that is now whole in the store; a part name that may be a content
    // file's own (listed, or with the checksum of its name) is left alone.
    static void RemoveLeftovers(const PackageFileInfo& fileInfo, bool partNameTaken);

    const StringClass& GetContentPath() const { return contentPath; }
    // Set once Complete has run; a finished task is never shared again.
    bool IsFinished() const { return finished; }

private:
    enum class Leftover { Absent, Continued, StartOver, Taken };

    bool IsListedFile();
    // Picks the part file, continuing a leftover one; false when it is to be
    // written from the start.
    bool ContinueLeftover();
    Leftover Examine(bool mayBeContentFile);
    bool HashHeldBytes(int64_t& size);
    bool StartPartFile();
    // Names the part file; it must be closed.
    void UsePartPath(const char* path);
    void ForgetHeldBytes();
    // Whether the part file is worth continuing in a later run.
    bool KeepsPartFile() const;

    StringClass repositoryUrl;
    StringClass contentPath;
    // The usual part name, and the one used where that is taken (the same
    // for a name too long for the usual one).
    StringClass usualPartPath;
    StringClass otherPartPath;
    bool partNameTaken;
    StringClass partPath;
    FileClass* partFile;
    uint32_t listedCrc;
    // The size the package lists, which alone makes the file whole; totalSize
    // is only the progress total, which the server's Content-Length replaces.
    uint32_t listedSize;
    Crc32 receivedCrc;
    bool isSigned = false;
    platform::Sha256Digest signedDigest{};
    platform::Sha256 receivedSha256;
    WriteBackPacer pacer;
    // This transfer appends to the bytes an earlier run left.
    bool continued = false;
    // The part file's bytes are known to be no part of the listed file.
    bool spoiled = false;
    bool fetchAgain = false;
    bool fromStart = false;
    bool finished = false;
};
