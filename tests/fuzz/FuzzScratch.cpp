#include "FuzzScratch.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace {

class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device random;
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        for (int attempt = 0; attempt < 100 && Path.empty(); ++attempt) {
            const std::filesystem::path candidate = base / ("quillbox-fuzz-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, error)) {
                Path = candidate.string();
            }
        }
    }
    ~ScratchFolder() {
        std::error_code error;
        if (!Path.empty()) {
            std::filesystem::remove_all(Path, error);
        }
    }

    std::string Path;
};

}  // namespace

const std::string& FuzzScratchFolder() {
    static ScratchFolder folder;
    return folder.Path;
}

bool WriteScratchFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(file);
}
