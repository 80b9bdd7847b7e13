// Replays every seed and every kept crash input through the fuzz target
// bodies, so that a reader fault found once fails the normal tests for good.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "FuzzTargets.h"

namespace {

struct FuzzTarget {
    const char* name;
    int (*run)(const uint8_t*, size_t);
};

void PrintTo(const FuzzTarget& target, std::ostream* out) { *out << target.name; }

const FuzzTarget Targets[] = {
    {"package_record", FuzzPackageRecord},  {"package_index", FuzzPackageIndex},
    {"mix_archive", FuzzMixArchive},        {"ini_file", FuzzIniFile},
    {"escape_url_path", FuzzEscapeUrlPath}, {"manifest", FuzzManifest},
    {"der_signature", FuzzDerSignature},    {"pem_public_key", FuzzPemPublicKey},
    {"content_range", FuzzContentRange},
};

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    return files;
}

int Replay(const FuzzTarget& target, const std::filesystem::path& folder) {
    int count = 0;
    for (const auto& file : FilesIn(folder)) {
        std::ifstream stream(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(file.string());
        EXPECT_EQ(target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
        ++count;
    }
    return count;
}

class FuzzReplayTest : public testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzReplayTest, SeedsAndKeptCrashInputsReadSafely) {
    const std::filesystem::path root(QUILLBOX_FUZZ_DIR);
    const int seeds = Replay(GetParam(), root / "corpus" / GetParam().name);
    Replay(GetParam(), root / "regressions" / GetParam().name);
    EXPECT_GT(seeds, 0) << "no seed corpus for " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplayTest, testing::ValuesIn(Targets),
                         [](const testing::TestParamInfo<FuzzTarget>& info) { return std::string(info.param.name); });

}  // namespace
