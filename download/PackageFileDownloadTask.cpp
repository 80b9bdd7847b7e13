#include "download/PackageFileDownloadTask.h"

#include "download/EscapeUrlPath.h"
#include "file/FileClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/PackageFileInfo.h"
#include "platform/FileSystem.h"

PackageFileDownloadTask::PackageFileDownloadTask(const char* repositoryUrl, const PackageFileInfo& fileInfo)
    : repositoryUrl(repositoryUrl),
      contentPath(GetDirectoryStructure().GetContentFilePath(fileInfo)),
      partPath(FormatString("%s.part", contentPath.Peek())),
      partFile(GetStoreFilesystem().GetFile(partPath)),
      listedCrc(fileInfo.crc) {
    url = FormatString("%s/%s", EscapeUrlBase(repositoryUrl).Peek(), EscapeUrlPath(contentPath).Peek());
    totalSize = static_cast<uint32_t>(fileInfo.size);
}

PackageFileDownloadTask::~PackageFileDownloadTask() { GetStoreFilesystem().ReturnFile(partFile); }

void PackageFileDownloadTask::OnStart() {
    // Without a part file there is nowhere to put the bytes; the transfer is
    // not even begun.
    if (!partFile->Open(FileClass::WriteOnly)) {
        cancelled = true;
    }
}

void PackageFileDownloadTask::OnData(const char* data, int length) {
    // A block that does not reach the disk whole (a full disk) spoils the
    // file, so the transfer ends there as a failure.
    if (partFile->Write(data, length) != length) {
        cancelled = true;
    }
    receivedCrc.Update(data, static_cast<size_t>(length));
}

void PackageFileDownloadTask::OnFinish() {
    partFile->Close();
    if (succeeded && !cancelled && StorePartFile()) {
        return;
    }
    succeeded = false;
    partFile->Delete();
}

// The content path must only ever name the complete file the package lists:
// every package that lists the same CRC-32 and name shares it. A body
// without a Content-Length ends when the connection closes, which a broken
// connection does too; such a body must have the size the package-info file
// lists (the total kept when the server announced none). A server may also
// announce a wrong length or serve another file under the name, which only
// the listed checksum shows. A move that did not happen must not pass for
// one either, so its result is taken from the platform: the store's MoveFile
// reports none.
bool PackageFileDownloadTask::StorePartFile() {
    if (static_cast<uint32_t>(receivedSize.load()) != totalSize.load() || receivedCrc.Value() != listedCrc) {
        return false;
    }
    const FlatFilesystem& store = GetStoreFilesystem();
    return platform::MoveFile(store.GetFullPath(partPath), store.GetFullPath(contentPath));
}

void PackageFileDownloadTask::Complete() {
    finished = true;
    DownloadTask::Complete();
}
