#include "package/DirectoryStructure.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/Md5.h"
#include "package/PackageFileInfo.h"

namespace {

constexpr const char* ContentFolder = "files";
constexpr const char* PackageInfoFolder = "packages";
constexpr const char* RepositoryFolder = "repositories";
constexpr const char* PartSuffix = ".part";

// The part name of a long content file name keeps this much of it, which
// leaves room for the markers and the digest.
constexpr int KeptPrefixLength = 200;

std::string DigestOf(const char* name) {
    Md5 md5;
    md5.Update(name, std::strlen(name));
    uint8_t digest[Md5::DigestSize];
    md5.Final(digest);
    char text[2 * Md5::DigestSize + 1];
    Md5::ToHex(digest, text);
    return text;
}

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

StringClass DirectoryStructure::GetRepositoryFolder() { return StringClass(RepositoryFolder); }

StringClass DirectoryStructure::GetRepositoryKeysPath(const char* repositoryName) {
    return FormatString("%s/%s.keys", RepositoryFolder, repositoryName);
}

StringClass DirectoryStructure::GetRepositoryManifestPath(const char* repositoryName) {
    return FormatString("%s/%s.manifest", RepositoryFolder, repositoryName);
}

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

bool DirectoryStructure::CanHoldContentFile(const PackageFileInfo& info) {
    return GetContentFilePath(info).GetLength() - static_cast<int>(std::strlen(ContentFolder)) - 1 <= LongestFileName;
}

StringClass DirectoryStructure::GetContentPartPath(const PackageFileInfo& info, bool partNameTaken) {
    const StringClass path = GetContentFilePath(info);
    const char* name = path.Peek() + std::strlen(ContentFolder) + 1;
    const StringClass partName = FormatString("%s%s%s", partNameTaken ? "~" : "", name, PartSuffix);
    if (partName.GetLength() <= LongestFileName) {
        return FormatString("%s/%s", ContentFolder, partName.Peek());
    }
    return FormatString("%s/~~%.*s.%s%s", ContentFolder, KeptPrefixLength, name, DigestOf(name).c_str(), PartSuffix);
}

StringClass DirectoryStructure::GetConversionPartPath(int index) {
    return FormatString("%s/convert-%d%s", ContentFolder, index, PartSuffix);
}

DirectoryStructure& GetDirectoryStructure() {
    static DirectoryStructure layout;
    return layout;
}

StringClass SanitizeFileName(const char* name) {
    StringClass result;
    const size_t length = name != nullptr ? std::strlen(name) : 0;
    if (length == 0) {
        return result;
    }
    char* text = result.GetBuffer(static_cast<int>(length + 1));
    for (size_t index = 0; index < length; ++index) {
        text[index] = std::strchr("\\/:*?\"<>|", name[index]) != nullptr ? '_' : name[index];
    }
    text[length] = 0;
    return result;
}
