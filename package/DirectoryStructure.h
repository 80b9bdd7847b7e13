#pragma once

#include <cstdint>
#include <string>

#include "foundation/StringClass.h"

struct PackageFileInfo;

// Names every file and folder of the store, as store-relative paths with
// forward slashes, so that every user of the store agrees on them: the three
// kinds of store file, their folders, and the temporary names that files are
// written under before they take their own. A temporary name is never one that
// the store gives a file (see DurableStore.h).
class DirectoryStructure {
public:
    virtual ~DirectoryStructure() = default;

    // The index of installed packages: "packages.dat".
    virtual StringClass GetDatabasePath();
    // "files/%08X.%s" with the checksum and the sanitised name.
    virtual StringClass GetContentFilePath(const PackageFileInfo& info);
    // "packages/%s" with the file name of a package-info file.
    virtual StringClass GetPackageInfoPath(const char* fileName);

    // "files" and "packages".
    StringClass GetContentFolder();
    // "repositories": what the store knows of trusted repositories.
    StringClass GetRepositoryFolder();
    // "repositories/%s.keys" and "repositories/%s.manifest" with the
    // repository's name in the store (RepositoryTrust).
    StringClass GetRepositoryKeysPath(const char* repositoryName);
    StringClass GetRepositoryManifestPath(const char* repositoryName);
    StringClass GetPackageInfoFolder();
    // "%08x.kpi" with the package identifier.
    static StringClass GetPackageInfoFileName(uint32_t packageId);
    // True for a name of that form, which cannot lead out of its folder.
    static bool IsPackageInfoFileName(const std::string& name);

    // Where a damaged index is kept: "packages.dat.damaged" for the first
    // copy, "packages.dat.damaged.N" for copy N after it.
    StringClass GetDamagedIndexPath(int number);

    // Where a file is written before it takes the name `path`: the index's
    // "packages.dat.new", a package-info file's name followed by ".part".
    StringClass GetTemporaryPath(const char* path);
    // The longest name a file of the store can have, in bytes.
    static constexpr int LongestFileName = 255;
    // True when the content file's name is not too long for a file.
    bool CanHoldContentFile(const PackageFileInfo& info);

    // Where a download writes a content file: its name followed by ".part",
    // unless that is itself a content file's name that is taken (listed by
    // the package or present in the store); then the same with a leading
    // "~", which no content file's name has (theirs begin with the checksum).
    // Where that name would be too long for a file, "~~", the name's first
    // 200 bytes, a dot and the MD5 digest of the whole name, then ".part":
    // two leading "~" are found in no other name of the folder.
    StringClass GetContentPartPath(const PackageFileInfo& info, bool partNameTaken);
    // Where a conversion writes its member `index` before its checksum is
    // known: "files/convert-%d.part".
    StringClass GetConversionPartPath(int index);
};

// A copy of the name with each of \ / : * ? " < > | turned into an
// underscore; empty for null.
StringClass SanitizeFileName(const char* name);

// The process-wide store layout.
DirectoryStructure& GetDirectoryStructure();
