#include "package/UnusedContentFiles.h"

#include "foundation/StringClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"

bool UnusedContentFiles::NoteInUse(const Package& package) {
    for (int fileIndex = 0; fileIndex < package.GetFileCount(); ++fileIndex) {
        if (!InUse.Insert(Layout.GetContentFilePath(package.GetFileInfo(fileIndex)))) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> UnusedContentFiles::List() const {
    const StringClass folder = Layout.GetContentFolder();
    std::vector<std::string> listed;
    std::vector<std::string> unused;
    if (!Store.ListFolder(folder, listed)) {
        return unused;
    }
    std::string path = std::string(folder.Peek()) + "/";
    const size_t prefixLength = path.size();
    for (std::string& name : listed) {
        if (name.empty() || name[0] == '.') {
            continue;
        }
        path.resize(prefixLength);
        path += name;
        if (!InUse.Contains(path.c_str())) {
            unused.push_back(std::move(name));
        }
    }
    return unused;
}
