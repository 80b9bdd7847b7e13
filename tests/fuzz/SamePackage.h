#pragma once

#include <cstring>

#include "package/Package.h"

// True when two records hold the same texts, revision and content entries,
// so that what was read can be written and read back unchanged.
inline bool SamePackage(const Package& left, const Package& right) {
    if (std::strcmp(left.GetName(), right.GetName()) != 0 || std::strcmp(left.GetVersion(), right.GetVersion()) != 0 ||
        std::strcmp(left.GetAuthor(), right.GetAuthor()) != 0 || left.GetRevision() != right.GetRevision() ||
        left.GetFileCount() != right.GetFileCount()) {
        return false;
    }
    for (int index = 0; index < left.GetFileCount(); ++index) {
        const PackageFileInfo& a = left.GetFileInfo(index);
        const PackageFileInfo& b = right.GetFileInfo(index);
        if (a.crc != b.crc || a.size != b.size || std::strcmp(a.name, b.name) != 0) {
            return false;
        }
    }
    return true;
}
