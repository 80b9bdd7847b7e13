#pragma once

#include <cstdint>

#include "foundation/StringClass.h"

// One content file of a package. The name is always held in lower case, so
// every path built from it in the store is lower case as well.
struct PackageFileInfo {
    PackageFileInfo() = default;
    PackageFileInfo(uint32_t crc, int32_t size, const char* name);

    // Entries are the same file when their checksums agree.
    bool operator==(const PackageFileInfo& other) const { return crc == other.crc; }

    uint32_t crc = 0;
    int32_t size = 0;
    StringClass name;
};
