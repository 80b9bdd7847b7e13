#include "package/PackageInfoFiles.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "file/ChunkReader.h"
#include "file/FileClass.h"
#include "file/MemoryFile.h"
#include "foundation/StringClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/StoreFailure.h"
#include "package/WholeFileRead.h"

InfoFileRead ReadPackageInfoFile(Filesystem& store, const char* path, std::unique_ptr<Package>& package) {
    if (!store.FileExists(path)) {
        return InfoFileRead::Missing;
    }
    FileClass* file = store.GetFile(path);
    std::string bytes;
    const bool opened = file->Open(FileClass::ReadOnly);
    const bool readable = opened && ReadWholeFile(*file, bytes);
    if (!readable) {
        NoteStoreFailure(FormatString("%s %s", opened ? "read" : "open", QuotedPath(file->GetFileName()).Peek()));
    }
    store.ReturnFile(file);
    if (!readable) {
        return InfoFileRead::Unreadable;
    }
    MemoryFile contents;
    if (!FillMemoryFile(contents, bytes)) {
        return InfoFileRead::OutOfMemory;
    }
    ChunkReader reader(&contents);
    package.reset(new (std::nothrow) Package(reader));
    return package != nullptr ? InfoFileRead::Read : InfoFileRead::OutOfMemory;
}

bool VisitPackageInfoFiles(Filesystem& store, DirectoryStructure& layout,
                           const std::function<bool(const Package&)>& visit, StringClass& unreadable) {
    const StringClass folder = layout.GetPackageInfoFolder();
    std::vector<std::string> names;
    if (!store.ListFolder(folder, names)) {
        if (!store.FileExists(folder)) {
            return true;
        }
        FileClass* named = store.GetFile(folder);
        NoteStoreFailure(FormatString("list the folder %s", QuotedPath(named->GetFileName()).Peek()));
        store.ReturnFile(named);
        unreadable = folder;
        return false;
    }
    // Only names of the form the store gives package-info files are read: such
    // a name cannot lead out of the folder it was listed in.
    std::sort(names.begin(), names.end());
    bool allRead = true;
    for (const std::string& name : names) {
        if (!DirectoryStructure::IsPackageInfoFileName(name)) {
            continue;
        }
        const StringClass path = layout.GetPackageInfoPath(name.c_str());
        std::unique_ptr<Package> package;
        switch (ReadPackageInfoFile(store, path, package)) {
            case InfoFileRead::Missing:
                continue;
            case InfoFileRead::Unreadable:
                if (allRead) {
                    unreadable = path;
                }
                allRead = false;
                continue;
            case InfoFileRead::OutOfMemory:
                return false;
            case InfoFileRead::Read:
                break;
        }
        if (!visit(*package)) {
            return false;
        }
    }
    return allRead;
}
