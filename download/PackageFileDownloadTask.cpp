#include "download/PackageFileDownloadTask.h"

#include <memory>
#include <new>

#include "download/EscapeUrlPath.h"
#include "file/FileClass.h"
#include "package/ContentFileCheck.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "package/PackageFileInfo.h"
#include "package/StoreFailure.h"

namespace {

constexpr int HashPieceSize = 65536;

// No content file's name begins with "~" (theirs begin with the checksum).
bool MayBeContentName(const StringClass& partPath) {
    const int at = GetDirectoryStructure().GetContentFolder().GetLength() + 1;
    return partPath.GetLength() > at && partPath[at] != '~';
}

// A part name that a content file may have: listed by the package, or a
// file whose bytes have the checksum of its name (or cannot be read, so
// nothing is known of them).
bool MayHoldContentFile(FlatFilesystem& store, const StringClass& path, const PackageFileInfo& fileInfo) {
    const ContentFileState state = CheckContentFile(store, path, fileInfo).state;
    return state != ContentFileState::Missing && state != ContentFileState::Damaged;
}

}  // namespace

PackageFileDownloadTask::PackageFileDownloadTask(const char* repositoryUrl, const PackageFileInfo& fileInfo,
                                                 bool partNameTaken, const platform::Sha256Digest* signedDigest)
    : repositoryUrl(repositoryUrl),
      contentPath(GetDirectoryStructure().GetContentFilePath(fileInfo)),
      usualPartPath(GetDirectoryStructure().GetContentPartPath(fileInfo, false)),
      otherPartPath(GetDirectoryStructure().GetContentPartPath(fileInfo, true)),
      partNameTaken(partNameTaken),
      partPath(partNameTaken ? otherPartPath : usualPartPath),
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

void PackageFileDownloadTask::RemoveLeftovers(const PackageFileInfo& fileInfo, bool partNameTaken) {
    FlatFilesystem& store = GetStoreFilesystem();
    DirectoryStructure& layout = GetDirectoryStructure();
    const StringClass usual = layout.GetContentPartPath(fileInfo, false);
    const StringClass other = layout.GetContentPartPath(fileInfo, true);
    // A leftover that cannot be deleted is only a leftover still: the next
    // run continues or deletes it.
    if (store.FileExists(other)) {
        store.DeleteFile(other);
    }
    if (usual != other && !partNameTaken && store.FileExists(usual) &&
        (!MayBeContentName(usual) || !MayHoldContentFile(store, usual, fileInfo))) {
        store.DeleteFile(usual);
    }
}

void PackageFileDownloadTask::Run() {
    DownloadTask::Run();
    // Once only: a file fetched from the start that fails is a failure.
    if (fetchAgain && !cancelled) {
        fetchAgain = false;
        fromStart = true;
        succeeded = false;
        ForgetFailureReason();
        DownloadTask::Run();
    }
}

void PackageFileDownloadTask::OnStart() {
    ForgetHeldBytes();
    continued = spoiled = fetchAgain = false;
    // Without a part file there is nowhere to put the bytes; the transfer is
    // not even begun.
    if (!CreateParentFolders(GetStoreFilesystem().GetFullPath(partPath))) {
        cancelled = true;
        return;
    }
    if (!(!fromStart && ContinueLeftover()) && !StartPartFile()) {
        cancelled = true;
    }
}

void PackageFileDownloadTask::ForgetHeldBytes() {
    firstByte = 0;
    receivedSize = 0;
    totalSize = listedSize;
    receivedCrc = Crc32();
    platform::Sha256Digest unused{};
    static_cast<void>(receivedSha256.Finish(unused));
    pacer.Reset();
}

// Whatever an earlier writer left under the name goes first (DurableStore's
// rule for temporary files), durably.
bool PackageFileDownloadTask::StartPartFile() {
    ForgetHeldBytes();
    return DurableStore(GetStoreFilesystem(), GetDirectoryStructure()).ClearLeftover(partPath) &&
           (partFile->Open(FileClass::WriteNew) ||
            NoteStoreFailure(FormatString("create %s", QuotedPath(partFile->GetFileName()).Peek())));
}

void PackageFileDownloadTask::UsePartPath(const char* path) {
    partPath = path;
    partFile->SetFileName(GetStoreFilesystem().GetFullPath(partPath));
}

// The usual part name unless a content file may have it; the part file of
// the other name is then no longer needed. A part file of a content file
// that the package lists under the usual name is never looked at.
bool PackageFileDownloadTask::ContinueLeftover() {
    FlatFilesystem& store = GetStoreFilesystem();
    if (!partNameTaken && usualPartPath != otherPartPath) {
        UsePartPath(usualPartPath);
        const Leftover usual = Examine(MayBeContentName(usualPartPath));
        if (usual != Leftover::Taken) {
            if (store.FileExists(otherPartPath)) {
                store.DeleteFile(otherPartPath);
            }
            return usual == Leftover::Continued;
        }
    }
    UsePartPath(otherPartPath);
    return Examine(false) == Leftover::Continued;
}

// Opens the part file to continue it when it holds the start of the file:
// fewer bytes than listed. One whose bytes have the listed checksum may be a
// content file of that name and is left alone.
PackageFileDownloadTask::Leftover PackageFileDownloadTask::Examine(bool mayBeContentFile) {
    FlatFilesystem& store = GetStoreFilesystem();
    if (!store.FileExists(partPath)) {
        return Leftover::Absent;
    }
    if (!partFile->Open(FileClass::ContinueOwn)) {
        // A link or a second hard link: never written through, but it may
        // still be a content file of that name.
        const PackageFileInfo listed(listedCrc, static_cast<int32_t>(listedSize), "");
        return mayBeContentFile && MayHoldContentFile(store, partPath, listed) ? Leftover::Taken : Leftover::StartOver;
    }
    int64_t size = 0;
    const bool hashed = HashHeldBytes(size);
    if (mayBeContentFile && (!hashed || receivedCrc.Value() == listedCrc)) {
        partFile->Close();
        ForgetHeldBytes();
        return Leftover::Taken;
    }
    if (!hashed || size == 0 || size >= listedSize) {
        partFile->Close();
        ForgetHeldBytes();
        return Leftover::StartOver;
    }
    firstByte = static_cast<uint32_t>(size);
    receivedSize = static_cast<int32_t>(size);
    pacer.Reset(size);
    return Leftover::Continued;
}

// Reads the open part file to its end into the checksums; the file then
// stands at its end, where the rest is appended.
bool PackageFileDownloadTask::HashHeldBytes(int64_t& size) {
    std::unique_ptr<char[]> piece(new (std::nothrow) char[HashPieceSize]);
    if (!piece) {
        return false;
    }
    size = 0;
    for (;;) {
        const int got = partFile->Read(piece.get(), HashPieceSize);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        receivedCrc.Update(piece.get(), static_cast<size_t>(got));
        if (isSigned) {
            receivedSha256.Update(piece.get(), static_cast<size_t>(got));
        }
        size += got;
    }
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

// The rest of the listed file from where the part file ends; an answer with
// another range is no part of it, and the part file is started afresh by the
// next run.
bool PackageFileDownloadTask::AcceptsRest(const platform::HttpContentRange* range) {
    const bool fits =
        range != nullptr && range->first == firstByte && (!range->totalKnown || range->total == listedSize);
    spoiled = !fits;
    return fits;
}

// The part file is longer than the server's file: it is no start of it.
void PackageFileDownloadTask::OnRestBeyondTheEnd() {
    spoiled = true;
    fetchAgain = true;
}

bool PackageFileDownloadTask::BeginsBody(uint32_t offset) {
    if (offset == firstByte) {
        continued = offset > 0;
        return true;
    }
    // The server sends the whole file after all: what was there goes.
    partFile->Close();
    return StartPartFile();
}

void PackageFileDownloadTask::OnData(const char* data, int length) {
    // A body that goes past the listed size (one without a Content-Length
    // that does not end) is stopped there, and its last block not written. A
    // block that does not reach the disk whole (a full disk) spoils the file,
    // so the transfer ends there as a failure too.
    if (static_cast<uint32_t>(receivedSize.load()) > listedSize) {
        SetFailureReason(FormatString("The content file '%s' goes on past the %u bytes that the package lists.",
                                      contentPath.Peek(), listedSize));
        spoiled = true;
        cancelled = true;
    } else if (partFile->Write(data, length) != length) {
        NoteStoreFailure(FormatString("write %s", QuotedPath(partFile->GetFileName()).Peek()));
        spoiled = true;
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
    const bool arrived = succeeded && !cancelled;
    const bool listed = arrived && IsListedFile();
    const bool held = listed && GetContentBatch().Hold(*partFile, partPath, contentPath, listedSize);
    partFile->Close();
    if (held) {
        return;
    }
    succeeded = false;
    // A body that ended as the server meant it to (a whole answer of another
    // size, or bytes with another checksum) is no start of the listed file:
    // only a cut transfer leaves one for the next run to continue. Without a
    // Content-Length, a short body may be a connection that closed early.
    const bool mayBeCut = !lengthAnnounced && static_cast<uint32_t>(receivedSize.load()) < listedSize;
    if (arrived && !listed && !mayBeCut) {
        spoiled = true;
        // The bytes an earlier run left may be what is wrong.
        fetchAgain = continued;
    }
    if (!KeepsPartFile() && GetStoreFilesystem().FileExists(partPath)) {
        partFile->Delete();
    }
}

// The start of the file, cut by a broken connection, a stall or a cancel, is
// what the next run continues; a spoiled or an empty one is not.
bool PackageFileDownloadTask::KeepsPartFile() const {
    const uint32_t held = static_cast<uint32_t>(receivedSize.load());
    return !spoiled && !fetchAgain && held > 0 && held < listedSize;
}

// The content path must only ever name the complete file the package lists:
// every package that lists the same CRC-32 and name shares it. A body
// without a Content-Length ends when the connection closes, which a broken
// connection does too, and one announced may be shorter than listed; either
// must have the size the package-info file lists. A server may also serve
// another file of that size under the name, which only the listed checksum
// shows. The file then waits in the content batch for its name, which it
// gets once its data (the bytes an earlier run left included) is on the disk.
bool PackageFileDownloadTask::IsListedFile() {
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
    return true;
}

void PackageFileDownloadTask::Complete() {
    finished = true;
    DownloadTask::Complete();
}
