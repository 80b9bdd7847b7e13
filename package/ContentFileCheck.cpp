#include "package/ContentFileCheck.h"

#include <memory>
#include <new>

#include "foundation/Crc32.h"
#include "package/FlatFilesystem.h"
#include "package/PackageFileInfo.h"
#include "platform/FileSystem.h"

namespace {

constexpr int64_t PieceSize = 65536;

// The checksum of every byte of the file; false when a read failed or the
// file did not hold the bytes its size promised. It reads one byte past that
// size at most, so a file that never ends (a device linked in) stops it.
bool ReadChecksum(platform::FileHandle file, int64_t size, uint32_t& crc, platform::Sha256* sha256) {
    std::unique_ptr<char[]> piece(new (std::nothrow) char[PieceSize]);
    if (!piece) {
        return false;
    }
    Crc32 checksum;
    int64_t total = 0;
    for (;;) {
        const int64_t wanted = size + 1 - total < PieceSize ? size + 1 - total : PieceSize;
        const int64_t got = platform::ReadFile(file, piece.get(), wanted);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        checksum.Update(piece.get(), static_cast<size_t>(got));
        if (sha256 != nullptr) {
            sha256->Update(piece.get(), static_cast<size_t>(got));
        }
        total += got;
        if (total > size) {
            return false;
        }
    }
    crc = checksum.Value();
    return total == size;
}

}  // namespace

ContentFileReport CheckContentFile(FlatFilesystem& store, const char* path, const PackageFileInfo& info,
                                   const platform::Sha256Digest* signedDigest) {
    // The size is asked for under the name exactly as spelled: a file of
    // another letter case is another file of the store.
    const StringClass full = store.GetFullPath(path);
    ContentFileReport report;
    report.size = platform::PathFileSize(full);
    if (report.size < 0) {
        return report;
    }
    const platform::FileHandle file = platform::OpenFile(full, 1);
    if (file == platform::InvalidFileHandle) {
        report.state = ContentFileState::Unreadable;
        return report;
    }
    uint32_t crc = 0;
    platform::Sha256 sha256;
    const bool read = ReadChecksum(file, report.size, crc, signedDigest != nullptr ? &sha256 : nullptr);
    // Only read: its bytes are already judged, whatever closing says.
    static_cast<void>(platform::CloseFile(file));
    platform::Sha256Digest digest{};
    if (!read || (signedDigest != nullptr && !sha256.Finish(digest))) {
        report.state = ContentFileState::Unreadable;
    } else if (crc != info.crc) {
        report.state = ContentFileState::Damaged;
    } else if (report.size != info.size) {
        report.state = ContentFileState::OtherSize;
    } else {
        report.state =
            signedDigest != nullptr && digest != *signedDigest ? ContentFileState::OtherBytes : ContentFileState::Whole;
    }
    return report;
}
