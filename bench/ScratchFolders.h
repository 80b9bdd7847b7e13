#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <system_error>
#include <vector>

// Folders that benchmarks write into, removed only once every benchmark of the
// program has run: ext4 passes over inodes deleted in the last minutes (up to
// five) when it creates files, which would charge one benchmark's files for
// the deletions of another.
namespace benchsupport {

inline std::vector<std::filesystem::path>& ScratchFolders() {
    static std::vector<std::filesystem::path> folders;
    return folders;
}

inline void RemoveAtEnd(const std::filesystem::path& folder) { ScratchFolders().push_back(folder); }

// The benchmark main, then the removal.
inline int RunBenchmarksThenRemoveScratch(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const std::filesystem::path& folder : ScratchFolders()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return 0;
}

}  // namespace benchsupport
