// Time of `verify` of the built Quillbox on a store of 1 GiB of content files
// in the page cache, beside `cat` of the same files into /dev/null (the floor:
// reading them) and `sha256sum` of them (what a user would run instead), in
// the same rounds and in turns, so that a change in the machine's load
// touches all three alike. Two shapes: four files of 256 MiB, and 16,384 of
// 64 KiB (where opening a file counts). Target: `verify` at most 1.1 times
// the `cat`. The counters are the medians of the rounds: `cat_ms`,
// `sha256sum_ms`, and `of_cat`, verify's time over cat's in each round.
// QUILLBOX_BENCH_PROGRAM names another build of the program to measure;
// QUILLBOX_BENCH_BESIDE a second build whose `verify` takes its turn in the
// same rounds (`beside_ms`), for a before-and-after table.
#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ScratchFolders.h"
#include "support/RecordBytes.h"

namespace {

constexpr int64_t StoreBytes = int64_t{1} << 30;
constexpr int FilesPerPackage = 64;

// A copy of the program in a fresh folder with a store beside it, written
// directly: installed packages of FilesPerPackage content files each, of
// random bytes (so that nothing can take a short cut over zero pages), and
// the list of the content files' paths for cat and sha256sum.
class VerifyStore {
public:
    explicit VerifyStore(int64_t fileSize) {
        std::random_device random;
        Root = std::filesystem::temp_directory_path() / ("quillbox-verify-bench-" + std::to_string(random()));
        benchsupport::RemoveAtEnd(Root);
        const std::filesystem::path store = Root / "Ironveil/Ironveil/mofs";
        std::filesystem::create_directories(store / "files");
        std::filesystem::create_directories(store / "packages");
        const char* program = std::getenv("QUILLBOX_BENCH_PROGRAM");
        std::filesystem::copy_file(program != nullptr ? program : QUILLBOX_EXE, Root / "Quillbox");
        if (HasBeside()) {
            std::filesystem::copy_file(std::getenv("QUILLBOX_BENCH_BESIDE"), Root / "Beside");
        }
        std::ofstream index(store / "packages.dat", std::ios::binary);
        std::ofstream list(Root / "files.list", std::ios::binary);
        std::mt19937_64 bytes(random());
        std::string data(static_cast<size_t>(fileSize), '\0');
        const int count = static_cast<int>(StoreBytes / fileSize);
        std::vector<testsupport::ListedFile> listed;
        for (int file = 0; file < count; ++file) {
            for (size_t at = 0; at < data.size(); at += 8) {
                const uint64_t word = bytes();
                std::memcpy(&data[at], &word, 8);
            }
            const std::string name = "maps/field" + std::to_string(file) + ".bin";
            const uint32_t crc = testsupport::Crc(data);
            listed.push_back({crc, name, static_cast<uint32_t>(fileSize)});
            char stored[64];
            std::snprintf(stored, sizeof stored, "%08X.maps_field%d.bin", crc, file);
            std::ofstream(store / "files" / stored, std::ios::binary) << data;
            list << (store / "files" / stored).string() << '\0';
            if (listed.size() == FilesPerPackage || file + 1 == count) {
                const std::string package = "Package" + std::to_string(file / FilesPerPackage);
                index << testsupport::IndexEntry(testsupport::PackageRecord(package, "1.0", "bench", listed));
                listed.clear();
            }
        }
        index.close();
        list.close();
        // A store at rest, its files in the page cache.
        if (std::system("sync") != 0 || Run("cat") < 0) {
            std::exit(2);
        }
    }

    static bool HasBeside() { return std::getenv("QUILLBOX_BENCH_BESIDE") != nullptr; }

    // Runs one of the commands over the store with its output thrown away;
    // the seconds taken, -1 when it failed.
    double Run(const std::string& tool) const {
        const std::string each = "xargs -0 -a files.list ";
        const std::string command = tool == "verify"      ? "./Quillbox verify"
                                    : tool == "beside"    ? "./Beside verify"
                                    : tool == "sha256sum" ? each + "sha256sum"
                                                          : each + "cat";
        const std::string line = "cd '" + Root.string() + "' && " + command + " >/dev/null 2>&1";
        const auto start = std::chrono::steady_clock::now();
        if (std::system(line.c_str()) != 0) {
            return -1;
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

private:
    std::filesystem::path Root;
};

const VerifyStore& StoreOf(int64_t fileSize) {
    static std::map<int64_t, std::unique_ptr<VerifyStore>> stores;
    std::unique_ptr<VerifyStore>& store = stores[fileSize];
    if (!store) {
        store = std::make_unique<VerifyStore>(fileSize);
    }
    return *store;
}

// Each round runs the commands, starting with another one each time.
void BM_Verify(benchmark::State& state) {
    const VerifyStore& store = StoreOf(state.range(0));
    static int round = 0;
    std::vector<std::string> tools = {"verify", "cat", "sha256sum"};
    if (VerifyStore::HasBeside()) {
        tools.push_back("beside");
    }
    for (auto _ : state) {
        std::map<std::string, double> seconds;
        for (size_t turn = 0; turn < tools.size(); ++turn) {
            const std::string& tool = tools[(turn + static_cast<size_t>(round)) % tools.size()];
            seconds[tool] = store.Run(tool);
            if (seconds[tool] < 0) {
                state.SkipWithError((tool + " failed").c_str());
                return;
            }
        }
        ++round;
        state.SetIterationTime(seconds["verify"]);
        state.counters["cat_ms"] = seconds["cat"] * 1000;
        state.counters["sha256sum_ms"] = seconds["sha256sum"] * 1000;
        state.counters["of_cat"] = seconds["verify"] / seconds["cat"];
        if (VerifyStore::HasBeside()) {
            state.counters["beside_ms"] = seconds["beside"] * 1000;
        }
    }
}

BENCHMARK(BM_Verify)
    ->Arg(256 << 20)
    ->Arg(64 << 10)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly()
    ->DisplayAggregatesOnly()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::RunBenchmarksThenRemoveScratch(argc, argv); }
