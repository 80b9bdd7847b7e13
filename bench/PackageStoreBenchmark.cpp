// Time of `list` and `uninstall` of the built Quillbox on a store of many
// installed packages with ten content files each, at two store sizes, so
// that the growth with the store can be read off side by side: doubling the
// store should at most about double the time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/RecordBytes.h"

namespace {

constexpr int FilesPerPackage = 10;

std::string PackageName(int index) { return "Package" + std::to_string(index); }

// Every package lists the same ten file names under checksums of its own,
// as packages of one game do: the store paths then differ only in digits.
std::string ContentName(int file) { return "maps/field" + std::to_string(file) + ".dds"; }

uint32_t ContentCrc(int package, int file) { return static_cast<uint32_t>(package * FilesPerPackage + file + 1); }

// A copy of the program in a fresh folder with a store of `count` installed
// packages beside it, written directly; removed when the object goes.
class BenchmarkStore {
public:
    explicit BenchmarkStore(int count) {
        std::random_device random;
        Root = std::filesystem::temp_directory_path() / ("quillbox-bench-" + std::to_string(random()));
        const std::filesystem::path store = Root / "Ironveil/Ironveil/mofs";
        std::filesystem::create_directories(store / "files");
        std::filesystem::copy_file(QUILLBOX_EXE, Root / "Quillbox");
        std::ofstream index(store / "packages.dat", std::ios::binary);
        for (int package = 0; package < count; ++package) {
            std::vector<testsupport::ListedFile> files;
            for (int file = 0; file < FilesPerPackage; ++file) {
                files.push_back({ContentCrc(package, file), ContentName(file)});
                char name[64];
                std::snprintf(name, sizeof name, "%08X.maps_field%d.dds", ContentCrc(package, file), file);
                std::ofstream(store / "files" / name, std::ios::binary) << "x";
            }
            index << testsupport::IndexEntry(testsupport::PackageRecord(PackageName(package), "1.0", "bench", files));
        }
    }
    ~BenchmarkStore() {
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }

    // Runs the program's copy with its output thrown away; the seconds taken.
    double Run(const std::string& arguments) const {
        const std::string command = "cd '" + Root.string() + "' && ./Quillbox " + arguments + " >/dev/null 2>&1";
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            return -1;
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

private:
    std::filesystem::path Root;
};

// One store per size, shared by the benchmarks: building one takes longer
// than everything measured on it.
const BenchmarkStore& StoreOf(int count) {
    static std::map<int, std::unique_ptr<BenchmarkStore>> stores;
    std::unique_ptr<BenchmarkStore>& store = stores[count];
    if (!store) {
        store = std::make_unique<BenchmarkStore>(count);
    }
    return *store;
}

// The fastest repetition: on a shared machine the others mostly measure the
// neighbours.
double Fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

void BM_List(benchmark::State& state) {
    const BenchmarkStore& store = StoreOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const double seconds = store.Run("list");
        if (seconds < 0) {
            state.SkipWithError("Quillbox failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

void BM_Uninstall(benchmark::State& state) {
    const BenchmarkStore& store = StoreOf(static_cast<int>(state.range(0)));
    static int next = 0;
    for (auto _ : state) {
        // A different package each time, spread over the list.
        const int package = (next++ * 7919) % static_cast<int>(state.range(0));
        const double seconds = store.Run("uninstall " + PackageName(package));
        if (seconds < 0) {
            state.SkipWithError("Quillbox failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

void Configure(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(10000)->Arg(20000)->UseManualTime()->Iterations(1)->Repetitions(7);
    benchmark->ComputeStatistics("min", Fastest)->ReportAggregatesOnly()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_List)->Apply(Configure);
BENCHMARK(BM_Uninstall)->Apply(Configure);

}  // namespace

BENCHMARK_MAIN();
