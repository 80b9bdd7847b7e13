#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/RecordBytes.h"
#include "support/TestSupport.h"

// Builds HTTP repositories on disk for the download tests: package-info files
// at packages/%08x.kpi and content files at files/%08X.<name>, written byte by
// byte from the published formats rather than through the code under test.
namespace repositorytest {

using testsupport::Crc;
using testsupport::IndexEntry;
using testsupport::InfoFileName;

struct ContentFile {
    std::string name;
    std::string bytes;
    // The size the package-info file lists; the real one when negative.
    int64_t listedSize = -1;
};

// The store's name of a content file: checksum, then the lower-cased name
// with the characters a file name cannot hold turned into underscores.
inline std::string ContentFileName(const ContentFile& file) {
    std::string name;
    for (char character : file.name) {
        if (character >= 'A' && character <= 'Z') {
            character = static_cast<char>(character - 'A' + 'a');
        }
        name += std::string("\\/:*?\"<>|").find(character) != std::string::npos ? '_' : character;
    }
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%08X.", Crc(file.bytes));
    return checksum + name;
}

inline std::string PackageInfo(const std::string& name, const std::vector<ContentFile>& files,
                               const std::string& version = "1.0", const std::string& author = "Jane Doe") {
    std::vector<testsupport::ListedFile> listed;
    for (const ContentFile& file : files) {
        const int64_t size = file.listedSize >= 0 ? file.listedSize : static_cast<int64_t>(file.bytes.size());
        listed.push_back({Crc(file.bytes), file.name, static_cast<uint32_t>(size)});
    }
    return testsupport::PackageRecord(name, version, author, listed);
}

// A repository below a local folder.
class PackageRepository {
public:
    explicit PackageRepository(std::string folder) : Folder(std::move(folder)) {}

    // The package-info file and every content file.
    std::string Publish(const std::string& packageName, const std::vector<ContentFile>& files) {
        for (const ContentFile& file : files) {
            PutFile(file);
        }
        return PutInfo(packageName, PackageInfo(packageName, files));
    }
    // Returns the bytes written.
    std::string PutInfo(const std::string& packageName, const std::string& bytes) {
        testsupport::WriteFile(Folder + "/packages/" + InfoFileName(packageName), bytes);
        return bytes;
    }
    void PutFile(const ContentFile& file) { testsupport::WriteFile(FilePath(file), file.bytes); }
    // One of the loopback server's fault words for this file alone.
    void SetFault(const ContentFile& file, const std::string& word) {
        testsupport::WriteFile(FilePath(file) + ".fault", word);
    }
    std::string FilePath(const ContentFile& file) const { return Folder + "/files/" + ContentFileName(file); }

private:
    std::string Folder;
};

inline std::string Pattern(size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

}  // namespace repositorytest
