#pragma once

#include <functional>
#include <memory>

class DirectoryStructure;
class Filesystem;
class Package;
class StringClass;

// Reading the package-info files of the store: the records that converted
// packages leave beside the index.

// How reading a package-info file of the store ended.
enum class InfoFileRead { Missing, Read, Unreadable, OutOfMemory };

// Reads the package-info file at the store path whole and its record from it
// into `package` (only when Read).
InfoFileRead ReadPackageInfoFile(Filesystem& store, const char* path, std::unique_ptr<Package>& package);
// Hands the record of every package-info file in the store to `visit`, also
// past one that cannot be read. False when they cannot all be read (the
// folder exists but cannot be listed, a file in it cannot be read, or memory
// ran out) or `visit` said so; `unreadable` then names the folder or the
// first file that could not be read.
bool VisitPackageInfoFiles(Filesystem& store, DirectoryStructure& layout,
                           const std::function<bool(const Package&)>& visit, StringClass& unreadable);
