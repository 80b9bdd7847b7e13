#pragma once

class DirectoryStructure;
class FileFactoryClass;
class FlatFilesystem;
class Package;

// How a conversion ended; the convert command turns it into its exit code.
enum class ConvertResult {
    Converted,          // every content file and the package-info file are in the store
    MembersSkipped,     // as Converted, but without the names that the index could not give
    ArchiveUnreadable,  // nothing was written to the store
    NameTaken,          // another package holds the identifier: nothing was written
    Abandoned,          // a member could not be stored; no package-info file was written
    InfoFileFailed,     // the content files are in the store, the package-info file is not
};

// Turns the MIX1 archive found through the factory into content files of the
// store and a package-info file "packages/%08x.kpi", and adds one entry per
// stored member to the package. Reports its failures on standard error.
ConvertResult ConvertMixFile(Package& package, const char* archiveName, FileFactoryClass& factory);

// The same over a given store and layout instead of the process-wide ones.
ConvertResult ConvertMixFile(Package& package, const char* archiveName, FileFactoryClass& factory,
                             FlatFilesystem& store, DirectoryStructure& layout);
