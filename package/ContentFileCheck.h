#pragma once

#include <cstdint>

#include "platform/Crypto.h"

class FlatFilesystem;
struct PackageFileInfo;

// What the store holds under a content file's name, judged by its bytes. The
// name promises a checksum; a file whose bytes have it is the file the name
// stands for, whatever a package lists, and is never replaced. A checksum is
// easily forged, so a file that has it at another size than a package lists
// is still whole: that package disagrees with the store.
enum class ContentFileState {
    Missing,     // no file of that name
    Whole,       // the name's checksum at the listed size
    OtherSize,   // the name's checksum at another size
    OtherBytes,  // the name's checksum and the listed size, but not the signed SHA-256
    Damaged,     // bytes without the name's checksum (cut, zeroed, other): rewritten
    Unreadable,  // it could not be read, so nothing is known of it
};

struct ContentFileReport {
    ContentFileState state = ContentFileState::Missing;
    // The size of the file in the store; -1 when it is missing.
    int64_t size = -1;
};

// Reads the file at the store path whole for its checksum, and for its
// SHA-256 when a signed one is given, which a whole file must then have.
[[nodiscard]] ContentFileReport CheckContentFile(FlatFilesystem& store, const char* path, const PackageFileInfo& info,
                                                 const platform::Sha256Digest* signedDigest = nullptr);
