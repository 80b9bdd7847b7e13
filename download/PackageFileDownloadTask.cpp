#include "download/PackageFileDownloadTask.h"

#include "download/EscapeUrlPath.h"
#include "file/FileClass.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "package/PackageFileInfo.h"
#include "package/StoreFailure.h"

PackageFileDownloadTask::PackageFileDownloadTask(const char* repositoryUrl, const PackageFileInfo& fileInfo,
                                                 bool partNameTaken, const platform::Sha256Digest* signedDigest)
    : repositoryUrl(repositoryUrl),
      contentPath(GetDirectoryStructure().GetContentFilePath(fileInfo)),
      partPath(GetDirectoryStructure().GetContentPartPath(fileInfo, partNameTaken)),
      partFile(GetStoreFilesystem().GetFile(partPath)),
      listedCrc(fileInfo.crc),
      listedSize(static_cast<uint32_t>(fileInfo.size)) {
    url = FormatString("%s/%s", EscapeUrlBase(repositoryUrl).Peek(), EscapeUrlPath(contentPath).Peek());
    totalSize = static_cast<uint32_t>(fileInfo.size);
    if (signedDigest != nullptr) {
        isSigned = true;
        this->signedDigest = *signedDigest;
    }
}

PackageFileDownloadTask::~PackageFileDownloadTask() { GetStoreFilesystem().ReturnFile(partFile); }

void PackageFileDownloadTask::OnStart() {
    // Without a part file there is nowhere to put the bytes; the transfer is
    // not even begun.
    FlatFilesystem& store = GetStoreFilesystem();
    const bool cleared = CreateParentFolders(store.GetFullPath(partPath)) &&
                         DurableStore(store, GetDirectoryStructure()).ClearLeftover(partPath);
    if (!cleared || !(partFile->Open(FileClass::WriteNew) ||
                      NoteStoreFailure(FormatString("create %s", QuotedPath(partFile->GetFileName()).Peek())))) {
        cancelled = true;
    }
    pacer.Reset();
}

// More than the listed size is never the listed file.
bool PackageFileDownloadTask::AcceptsLength(uint32_t length) {
    if (length <= listedSize) {
        return true;
    }
    SetFailureReason(
        FormatString("The server announced %u bytes for the content file '%s'; the package lists it at %u.", length,
                     contentPath.Peek(), listedSize));
    return false;
}

void PackageFileDownloadTask::OnData(const char* data, int length) {
    // A body that goes past the listed size (one without a Content-Length
    // that does not end) is stopped there, and its last block not written. A
    // block that does not reach the disk whole (a full disk) spoils the file,
    // so the transfer ends there as a failure too.
    if (static_cast<uint32_t>(receivedSize.load()) > listedSize) {
        SetFailureReason(FormatString("The content file '%s' goes on past the %u bytes that the package lists.",
                                      contentPath.Peek(), listedSize));
        cancelled = true;
    } else if (partFile->Write(data, length) != length) {
        NoteStoreFailure(FormatString("write %s", QuotedPath(partFile->GetFileName()).Peek()));
        cancelled = true;
    } else {
        pacer.Wrote(*partFile, length);
    }
    receivedCrc.Update(data, static_cast<size_t>(length));
    if (isSigned) {
        receivedSha256.Update(data, static_cast<size_t>(length));
    }
}

void PackageFileDownloadTask::OnFinish() {
    const bool held = succeeded && !cancelled && HoldPartFile();
    partFile->Close();
    if (!held) {
        succeeded = false;
        partFile->Delete();
    }
}

// The content path must only ever name the complete file the package lists:
// every package that lists the same CRC-32 and name shares it. A body
// without a Content-Length ends when the connection closes, which a broken
// connection does too, and one announced may be shorter than listed; either
// must have the size the package-info file lists. A server may also serve
// another file of that size under the name, which only the listed checksum
// shows. The file then waits in the content batch for
// its name, which it gets once its data is on the disk.
bool PackageFileDownloadTask::HoldPartFile() {
    const uint32_t received = static_cast<uint32_t>(receivedSize.load());
    if (received != listedSize) {
        SetFailureReason(FormatString("The content file '%s' arrived with %u bytes; the package lists it at %u.",
                                      contentPath.Peek(), received, listedSize));
        return false;
    }
    if (receivedCrc.Value() != listedCrc) {
        SetFailureReason(FormatString("The content file '%s' arrived with the CRC-32 %08X; the package lists %08X.",
                                      contentPath.Peek(), receivedCrc.Value(), listedCrc));
        return false;
    }
    platform::Sha256Digest digest{};
    if (isSigned && (!receivedSha256.Finish(digest) || digest != signedDigest)) {
        SetFailureReason(FormatString("The content file '%s' does not have the SHA-256 that the signed manifest lists.",
                                      contentPath.Peek()));
        return false;
    }
    return GetContentBatch().Hold(*partFile, partPath, contentPath, received);
}

void PackageFileDownloadTask::Complete() {
    finished = true;
    DownloadTask::Complete();
}
