#include "package/DirectoryStructure.h"

#include "package/FlatFilesystem.h"
#include "package/PackageFileInfo.h"

StringClass DirectoryStructure::GetDatabasePath() { return StringClass("packages.dat"); }

StringClass DirectoryStructure::GetContentFilePath(const PackageFileInfo& info) {
    return FormatString("files/%08X.%s", static_cast<unsigned>(info.crc), SanitizeFileName(info.name).Peek());
}

StringClass DirectoryStructure::GetPackageInfoPath(const char* fileName) {
    return FormatString("packages/%s", fileName);
}

DirectoryStructure& GetDirectoryStructure() {
    static DirectoryStructure layout;
    return layout;
}
