#include "package/RepositoryTrust.h"

#include "file/FileClass.h"
#include "foundation/StringClass.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "platform/Crypto.h"

namespace {

// A list of keys or a manifest larger than this is not the store's own.
constexpr int64_t MaximumTrustFileSize = int64_t{64} << 20;

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    return digit >= 'a' && digit <= 'f' ? digit - 'a' + 10 : -1;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    if (text.empty() || text.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (size_t index = 0; index < text.size(); index += 2) {
        const int high = HexValue(text[index]);
        const int low = HexValue(text[index + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

// The list of keys: the compared URL on the first line, then the DER form of
// one key per line in hexadecimal digits.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::string HexText(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (size_t index = 0; index < length; ++index) {
        text += digits[bytes[index] >> 4];
        text += digits[bytes[index] & 15];
    }
    return text;
}

std::string RepositoryTrust::ComparedUrl(const char* url) {
    std::string text = url;
    const size_t schemeEnd = text.find("://");
    const size_t hostStart = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
    size_t pathStart = text.find_first_of("/?#", hostStart);
    if (pathStart == std::string::npos) {
        pathStart = text.size();
    }
    const size_t at = text.rfind('@', pathStart == 0 ? 0 : pathStart - 1);
    const size_t authorityStart = at != std::string::npos && at >= hostStart ? at + 1 : hostStart;
    std::string compared;
    for (size_t index = 0; index < hostStart; ++index) {
        compared += AsciiLower(text[index]);
    }
    for (size_t index = authorityStart; index < pathStart; ++index) {
        compared += AsciiLower(text[index]);
    }
    std::string path = text.substr(pathStart);
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    return compared + path;
}

std::string RepositoryTrust::NameOf(const char* url) {
    const std::string compared = ComparedUrl(url);
    platform::Sha256Digest digest{};
    if (!platform::HashSha256(compared.data(), compared.size(), digest)) {
        return std::string();
    }
    return HexText(digest.data(), 8);
}

bool RepositoryTrust::ReadStoreFile(const char* path, std::string& bytes) {
    bytes.clear();
    if (!Store.FileExists(path)) {
        return true;
    }
    FileClass* file = Store.GetFile(path);
    bool read = false;
    if (file->Open(FileClass::ReadOnly)) {
        const int size = file->Size();
        if (size >= 0 && size <= MaximumTrustFileSize) {
            bytes.resize(static_cast<size_t>(size));
            read = file->Read(bytes.data(), size) == size;
        }
    }
    Store.ReturnFile(file);
    return read;
}

bool RepositoryTrust::ReadKeys(const char* url, std::vector<std::vector<uint8_t>>& keys) {
    keys.clear();
    const std::string name = NameOf(url);
    std::string text;
    if (name.empty() || !ReadStoreFile(Layout.GetRepositoryKeysPath(name.c_str()), text)) {
        return false;
    }
    const std::vector<std::string> lines = SplitLines(text);
    // The first line names the repository; another URL of the same name in
    // the store (a fault of the disk, or a hand-made file) binds nothing.
    if (lines.empty() || lines[0] != ComparedUrl(url)) {
        return text.empty();
    }
    for (size_t index = 1; index < lines.size(); ++index) {
        std::vector<uint8_t> der;
        if (!ParseHex(lines[index], der)) {
            return false;
        }
        keys.push_back(std::move(der));
    }
    return true;
}

bool RepositoryTrust::AddKey(const char* url, const std::vector<uint8_t>& der, bool& added) {
    added = false;
    std::vector<std::vector<uint8_t>> keys;
    if (!ReadKeys(url, keys)) {
        return false;
    }
    for (const std::vector<uint8_t>& key : keys) {
        if (key == der) {
            return true;
        }
    }
    keys.push_back(der);
    std::string text = ComparedUrl(url) + "\n";
    for (const std::vector<uint8_t>& key : keys) {
        text += HexText(key.data(), key.size()) + "\n";
    }
    added = DurableStore(Store, Layout)
                .ReplaceWhole(Layout.GetRepositoryKeysPath(NameOf(url).c_str()), text.data(),
                              static_cast<int>(text.size()));
    return added;
}

bool RepositoryTrust::ReadAcceptedManifest(const char* url, std::string& bytes) {
    const std::string name = NameOf(url);
    return !name.empty() && ReadStoreFile(Layout.GetRepositoryManifestPath(name.c_str()), bytes);
}

bool RepositoryTrust::KeepAcceptedManifest(const char* url, const std::string& bytes) {
    const std::string name = NameOf(url);
    if (name.empty()) {
        return false;
    }
    return DurableStore(Store, Layout)
        .ReplaceWhole(Layout.GetRepositoryManifestPath(name.c_str()), bytes.data(), static_cast<int>(bytes.size()));
}

bool RepositoryTrust::ReadAllAcceptedManifests(std::vector<std::string>& manifests) {
    manifests.clear();
    const StringClass folder = Layout.GetRepositoryFolder();
    std::vector<std::string> names;
    if (!Store.ListFolder(folder, names)) {
        return !Store.FileExists(folder);
    }
    const std::string suffix = ".manifest";
    bool allRead = true;
    for (const std::string& name : names) {
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0 ||
            name.find_first_of("/\\") != std::string::npos) {
            continue;
        }
        std::string bytes;
        if (ReadStoreFile(FormatString("%s/%s", folder.Peek(), name.c_str()), bytes)) {
            manifests.push_back(std::move(bytes));
        } else {
            allRead = false;
        }
    }
    return allRead;
}
