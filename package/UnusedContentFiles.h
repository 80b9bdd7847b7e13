#pragma once

#include <string>
#include <vector>

#include "package/PathSet.h"

class DirectoryStructure;
class Filesystem;
class Package;

// The sweep of the content folder after a package is removed: the content
// paths that the packages still in the store list are noted, and every file
// of the folder that none of them lists is unused.
class UnusedContentFiles {
public:
    UnusedContentFiles(Filesystem& store, DirectoryStructure& layout) : Store(store), Layout(layout) {}

    // Notes every content file the package lists as in use; false when memory
    // ran out, and then a path may be missing from the set.
    [[nodiscard]] bool NoteInUse(const Package& package);
    // The names in the content folder that no noted package lists, except
    // names beginning with a dot; none when the folder cannot be listed.
    std::vector<std::string> List() const;

private:
    Filesystem& Store;
    DirectoryStructure& Layout;
    // Two paths that share a fingerprint can only keep a file that could have
    // gone: a path in use is never taken for unused.
    PathSet InUse;
};
