#include <cstdint>
#include <string>
#include <vector>

#include "file/RawFileClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/PackageManager.h"
#include "package/RepositoryTrust.h"
#include "platform/Crypto.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"

namespace {

// A PEM public key is a few hundred bytes; a larger file is none.
constexpr int MaximumKeyFileSize = 64 * 1024;

bool ReadKeyFile(const char* path, std::string& text) {
    RawFileClass file(path);
    if (!file.Open(FileClass::ReadOnly)) {
        return false;
    }
    const int size = file.Size();
    if (size < 0 || size > MaximumKeyFileSize) {
        return false;
    }
    text.resize(static_cast<size_t>(size));
    const bool read = file.Read(text.data(), size) == size;
    file.Close();
    return read;
}

}  // namespace

// The key is bound to the repository in the form in which repository URLs
// are compared, and its id (the SHA-256 of its DER form, as `openssl pkey
// -pubin -outform DER | sha256sum` prints it) is shown so that the user can
// compare it with the one the publisher announces.
int RunTrust(const char* repositoryUrl, const char* publicKeyFile) {
    std::string text;
    if (!ReadKeyFile(publicKeyFile, text)) {
        PrintError("Could not read the key file '%s'.\r\n", publicKeyFile);
        return 1;
    }
    platform::PublicKey key;
    platform::Sha256Digest id{};
    if (!key.ReadPem(text) || !platform::HashSha256(key.Der().data(), key.Der().size(), id)) {
        PrintError("The file '%s' holds no P-256 public key (as 'openssl pkey -pubout' prints one).\r\n",
                   publicKeyFile);
        return 1;
    }
    FlatFilesystem& store = GetStoreFilesystem();
    platform::FileLock storeLock;
    if (!PackageManager::LockStore(store, storeLock)) {
        PrintError("Could not use the package store '%s'.\r\n", platform::NativePathText(store.GetRoot()).c_str());
        return 1;
    }
    RepositoryTrust trust(store, GetDirectoryStructure());
    bool added = false;
    if (!trust.AddKey(repositoryUrl, key.Der(), added)) {
        PrintError("Could not save the trusted keys in the store '%s'.\r\n", store.GetRoot().Peek());
        return 1;
    }
    const std::string compared = RepositoryTrust::ComparedUrl(repositoryUrl);
    const std::string keyId = HexText(id.data(), id.size());
    if (added) {
        PrintOut("Repository '%s' now trusts the key %s.\r\n", compared.c_str(), keyId.c_str());
    } else {
        PrintOut("Repository '%s' already trusts the key %s.\r\n", compared.c_str(), keyId.c_str());
    }
    return 0;
}
