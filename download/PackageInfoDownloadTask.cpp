#include "download/PackageInfoDownloadTask.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "download/EscapeUrlPath.h"
#include "file/ChunkReader.h"
#include "file/ChunkWriter.h"
#include "file/FileClass.h"
#include "foundation/HashName.h"
#include "package/DirectoryStructure.h"
#include "package/Package.h"
#include "package/PackageManager.h"

namespace {

// A package-info file of 100,000 content files is about 6 MB. A body larger
// than this is not one (a wrong URL, a broken or hostile server), and holding
// it would let the server fill the memory.
constexpr int64_t MaximumInfoSize = int64_t{64} * 1024 * 1024;

// Room for a body of `needed` bytes: the announced size when there is one,
// else twice what is needed; past half the limit, the limit itself, so that
// the buffer is never copied while it holds more than half of it.
int64_t CapacityFor(int64_t needed, int64_t announced) {
    const int64_t wanted = std::max(announced, 2 * needed);
    return wanted > MaximumInfoSize / 2 ? MaximumInfoSize : wanted;
}

}  // namespace

PackageInfoDownloadTask::PackageInfoDownloadTask(const char* packageName, const char* repositoryUrl)
    : repositoryUrl(repositoryUrl), packageName(packageName) {
    const uint32_t packageId = HashName(packageName);
    // A repository is laid out as a store: the package-info file lies where
    // the store keeps it.
    DirectoryStructure& layout = GetDirectoryStructure();
    url = FormatString("%s/%s", EscapeUrlBase(repositoryUrl).Peek(),
                       layout.GetPackageInfoPath(DirectoryStructure::GetPackageInfoFileName(packageId)).Peek());
}

void PackageInfoDownloadTask::OnData(const char* data, int length) {
    // A record missing a block would be registered as if whole, so a block
    // that cannot be kept (too large a body, memory ran out) ends the
    // transfer as a failure.
    if (!Keep(data, length)) {
        SetFailureReason(
            FormatString("The package-info file '%s' could not be kept: it is larger than %d MiB or the "
                         "memory ran out.",
                         WithoutPassword(url).Peek(), static_cast<int>(MaximumInfoSize >> 20)));
        cancelled = true;
    }
}

bool PackageInfoDownloadTask::Keep(const char* data, int length) {
    const int64_t announced = totalSize;
    const int64_t needed = static_cast<int64_t>(buffer.Size()) + length;
    if (announced > MaximumInfoSize || needed > MaximumInfoSize) {
        return false;
    }
    if (needed > buffer.GetCapacity() && !buffer.Reserve(static_cast<int>(CapacityFor(needed, announced)))) {
        return false;
    }
    return buffer.Write(data, length) == length;
}

// A body that registers nothing, or whose registration does not reach the
// disk, fails the download as a failed transfer does.
void PackageInfoDownloadTask::Complete() {
    if (succeeded && !RegisterPackage()) {
        succeeded = false;
    }
    DownloadTask::Complete();
}

bool PackageInfoDownloadTask::RegisterPackage() {
    // A body cut short (a server that announced less than the file) would
    // register the package with only some of its files, and every later
    // download would trust that list; what arrived may also describe another
    // package, or be no package-info file at all (an error page served with
    // status 200). Neither has a place in the index.
    if (isSigned && !HasSignedDigest()) {
        return false;
    }
    if (installed != nullptr) {
        return MatchesInstalled();
    }
    PackageManager& manager = PackageManager::GetInstance();
    StringClass recordName;
    if (manager.AddPackageInfo(buffer, packageName, recordName) == nullptr) {
        if (!recordName.IsEmpty() && !EqualsIgnoringAsciiCase(recordName, packageName)) {
            SetFailureReason(FormatString("The package-info file '%s' describes package '%s', not '%s'.",
                                          WithoutPassword(url).Peek(), recordName.Peek(), packageName.Peek()));
        } else {
            SetFailureReason(FormatString("The package-info file '%s' does not describe package '%s'.",
                                          WithoutPassword(url).Peek(), packageName.Peek()));
        }
        return false;
    }
    // An index that did not reach the disk is reported when the command ends;
    // the download has failed either way.
    return manager.Save();
}

void PackageInfoDownloadTask::RequireSignedDigest(const platform::Sha256Digest& digest,
                                                  const Package* installedPackage) {
    isSigned = true;
    signedDigest = digest;
    installed = installedPackage;
}

bool PackageInfoDownloadTask::HasSignedDigest() {
    platform::Sha256Digest digest{};
    if (platform::HashSha256(buffer.GetData(), static_cast<size_t>(buffer.Size()), digest) && digest == signedDigest) {
        return true;
    }
    SetFailureReason(
        FormatString("The package-info file '%s' does not have the SHA-256 that the signed manifest lists.",
                     WithoutPassword(url).Peek()));
    return false;
}

// The records are compared as the store writes them, so that what the index
// holds is exactly what the publisher signed.
bool PackageInfoDownloadTask::MatchesInstalled() {
    buffer.Seek(0, FileClass::FromStart);
    ChunkReader reader(&buffer);
    const Package signedRecord(reader);
    MemoryFile signedBytes;
    MemoryFile installedBytes;
    ChunkWriter signedWriter(&signedBytes);
    ChunkWriter installedWriter(&installedBytes);
    const bool same =
        signedRecord.Save(signedWriter) && installed->Save(installedWriter) &&
        signedBytes.Size() == installedBytes.Size() &&
        std::memcmp(signedBytes.GetData(), installedBytes.GetData(), static_cast<size_t>(signedBytes.Size())) == 0;
    if (!same) {
        SetFailureReason(FormatString("The installed package '%s' differs from the signed package-info file '%s'.",
                                      installed->GetName().Peek(), WithoutPassword(url).Peek()));
    }
    return same;
}
