#include "support/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

// The parts that need the operating system (making a temporary folder,
// running a program) are in posix/ and win32/.
namespace testsupport {

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Root, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent);
    }
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

void MakeFolders(const std::string& path) { std::filesystem::create_directories(path); }

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void CopyFile(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

}  // namespace testsupport
