#pragma once

#include "foundation/StringClass.h"

struct PackageFileInfo;

// Names the three kinds of file in the store, as store-relative paths with
// forward slashes, so that every user of the store agrees on them.
class DirectoryStructure {
public:
    virtual ~DirectoryStructure() = default;

    // The index of installed packages: "packages.dat".
    virtual StringClass GetDatabasePath();
    // "files/%08X.%s" with the checksum and the sanitised name.
    virtual StringClass GetContentFilePath(const PackageFileInfo& info);
    // "packages/%s" with the file name of a package-info file.
    virtual StringClass GetPackageInfoPath(const char* fileName);
};

// The process-wide store layout.
DirectoryStructure& GetDirectoryStructure();
