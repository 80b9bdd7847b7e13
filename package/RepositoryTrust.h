#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DirectoryStructure;
class FlatFilesystem;

// What the store knows of the repositories a user trusts: the public keys
// bound to each (the DER forms of P-256 keys), and the newest signed manifest
// accepted from each, so that an older one is not taken back. A repository's
// files are named by the first 16 hexadecimal digits of the SHA-256 of its
// URL in the compared form (ComparedUrl), and written whole and durably.
class RepositoryTrust {
public:
    RepositoryTrust(FlatFilesystem& store, DirectoryStructure& layout) : Store(store), Layout(layout) {}

    // The form in which repository URLs are compared: the scheme and host in
    // lower case, without the user and password, and without the slashes at
    // the end of the path; the path is kept as it is otherwise.
    static std::string ComparedUrl(const char* url);

    // The keys bound to the repository, none for one that is not trusted.
    // False when the store's list of them cannot be read.
    [[nodiscard]] bool ReadKeys(const char* url, std::vector<std::vector<uint8_t>>& keys);
    // Binds the key to the repository beside those bound already; `added` is
    // false when it was bound before. True once the list is on the disk.
    [[nodiscard]] bool AddKey(const char* url, const std::vector<uint8_t>& der, bool& added);

    // The bytes of the manifest last accepted from the repository, empty when
    // none was. False when they cannot be read.
    [[nodiscard]] bool ReadAcceptedManifest(const char* url, std::string& bytes);
    // Keeps the manifest as the one last accepted; true once it is durable.
    [[nodiscard]] bool KeepAcceptedManifest(const char* url, const std::string& bytes);
    // The manifests last accepted from every trusted repository; false when
    // one of them cannot be read.
    [[nodiscard]] bool ReadAllAcceptedManifests(std::vector<std::string>& manifests);

private:
    std::string NameOf(const char* url);
    [[nodiscard]] bool ReadStoreFile(const char* path, std::string& bytes);

    FlatFilesystem& Store;
    DirectoryStructure& Layout;
};

// Bytes as lower-case hexadecimal digits.
std::string HexText(const uint8_t* bytes, size_t length);
