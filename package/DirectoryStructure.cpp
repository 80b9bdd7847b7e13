#include "package/DirectoryStructure.h"

#include <cstring>

#include "package/FlatFilesystem.h"
#include "package/PackageFileInfo.h"

namespace {

constexpr const char* ContentFolder = "files";
constexpr const char* PackageInfoFolder = "packages";
constexpr const char* PartSuffix = ".part";

bool IsHexDigit(char character) {
    return (character >= '0' && character <= '9') || (character >= 'a' && character <= 'f') ||
           (character >= 'A' && character <= 'F');
}

}  // namespace

StringClass DirectoryStructure::GetDatabasePath() { return StringClass("packages.dat"); }

StringClass DirectoryStructure::GetContentFilePath(const PackageFileInfo& info) {
    return FormatString("%s/%08X.%s", ContentFolder, static_cast<unsigned>(info.crc),
                        SanitizeFileName(info.name).Peek());
}

StringClass DirectoryStructure::GetPackageInfoPath(const char* fileName) {
    return FormatString("%s/%s", PackageInfoFolder, fileName);
}

StringClass DirectoryStructure::GetContentFolder() { return StringClass(ContentFolder); }

StringClass DirectoryStructure::GetPackageInfoFolder() { return StringClass(PackageInfoFolder); }

StringClass DirectoryStructure::GetPackageInfoFileName(uint32_t packageId) {
    return FormatString("%08x.kpi", static_cast<unsigned>(packageId));
}

bool DirectoryStructure::IsPackageInfoFileName(const std::string& name) {
    if (name.size() != 12 || !EqualsIgnoringAsciiCase(name.c_str() + 8, ".kpi")) {
        return false;
    }
    for (int index = 0; index < 8; ++index) {
        if (!IsHexDigit(name[index])) {
            return false;
        }
    }
    return true;
}

StringClass DirectoryStructure::GetDamagedIndexPath(int number) {
    const StringClass first = GetDatabasePath() + ".damaged";
    return number == 1 ? first : FormatString("%s.%d", first.Peek(), number);
}

StringClass DirectoryStructure::GetTemporaryPath(const char* path) {
    const StringClass index = GetDatabasePath();
    return StringClass(path) + (index == path ? ".new" : PartSuffix);
}

StringClass DirectoryStructure::GetContentPartPath(const PackageFileInfo& info, bool partNameTaken) {
    const StringClass path = GetContentFilePath(info);
    if (!partNameTaken) {
        return path + PartSuffix;
    }
    return FormatString("%s/~%s%s", ContentFolder, path.Peek() + std::strlen(ContentFolder) + 1, PartSuffix);
}

StringClass DirectoryStructure::GetConversionPartPath(int index) {
    return FormatString("%s/convert-%d%s", ContentFolder, index, PartSuffix);
}

DirectoryStructure& GetDirectoryStructure() {
    static DirectoryStructure layout;
    return layout;
}
