// Time of `list`, `install` and `uninstall` of the built Quillbox on a store
// of many installed packages with ten content files each, at store sizes of
// 10,000 and 40,000 packages, so that the growth with the store can be read
// off side by side: four times the packages should take at most about four
// times as long. `uninstall` is measured once more on a store that also holds
// a package-info file per package (a publishing store), whose files the
// cleanup must read. QUILLBOX_BENCH_PROGRAM names another build of the
// program to measure instead; QUILLBOX_BENCH_BESIDE names a second build that
// runs in turns with the first on the same stores, its fastest time reported
// as `beside_ms`, for a before-and-after table that one run's disk state
// cannot skew.
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
    BenchmarkStore(int count, bool withInfoFiles) {
        std::random_device random;
        Root = std::filesystem::temp_directory_path() / ("quillbox-bench-" + std::to_string(random()));
        Store = Root / "Ironveil/Ironveil/mofs";
        std::filesystem::create_directories(Store / "files");
        std::filesystem::create_directories(Store / "packages");
        const char* program = std::getenv("QUILLBOX_BENCH_PROGRAM");
        std::filesystem::copy_file(program != nullptr ? program : QUILLBOX_EXE, Root / "Quillbox");
        if (HasBeside()) {
            std::filesystem::copy_file(std::getenv("QUILLBOX_BENCH_BESIDE"), Root / "Beside");
        }
        std::ofstream index(Store / "packages.dat", std::ios::binary);
        for (int package = 0; package < count; ++package) {
            std::vector<testsupport::ListedFile> files;
            for (int file = 0; file < FilesPerPackage; ++file) {
                files.push_back({ContentCrc(package, file), ContentName(file)});
                char name[64];
                std::snprintf(name, sizeof name, "%08X.maps_field%d.dds", ContentCrc(package, file), file);
                std::ofstream(Store / "files" / name, std::ios::binary) << "x";
            }
            const std::string record = testsupport::PackageRecord(PackageName(package), "1.0", "bench", files);
            index << testsupport::IndexEntry(record);
            if (withInfoFiles) {
                PlaceInfo(PackageName(package), record);
            }
        }
        index.close();
        // A store at rest, as a user's is: the commands force what they
        // write, and a force waits for whatever else is on its way to the
        // disk, here the hundreds of thousands of files just made.
        std::system("sync");
    }

    void PlaceInfo(const std::string& packageName, const std::string& record) const {
        std::ofstream(Store / "packages" / testsupport::InfoFileName(packageName), std::ios::binary) << record;
    }
    ~BenchmarkStore() {
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }

    static bool HasBeside() { return std::getenv("QUILLBOX_BENCH_BESIDE") != nullptr; }

    // Runs the program's copy (or the build beside it) with its output thrown
    // away; the seconds taken.
    double Run(const std::string& arguments, bool beside = false) const {
        const std::string program = beside ? "./Beside " : "./Quillbox ";
        const std::string command = "cd '" + Root.string() + "' && " + program + arguments + " >/dev/null 2>&1";
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            return -1;
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

private:
    std::filesystem::path Root;
    std::filesystem::path Store;
};

// One store per size and kind, shared by the benchmarks: building one takes
// longer than everything measured on it.
const BenchmarkStore& StoreOf(int count, bool withInfoFiles = false) {
    static std::map<std::pair<int, bool>, std::unique_ptr<BenchmarkStore>> stores;
    std::unique_ptr<BenchmarkStore>& store = stores[{count, withInfoFiles}];
    if (!store) {
        store = std::make_unique<BenchmarkStore>(count, withInfoFiles);
    }
    return *store;
}

// The fastest repetition: on a shared machine the others mostly measure the
// neighbours.
double Fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

template <typename Command, typename Prepare>
double TimeOne(const BenchmarkStore& store, Command command, Prepare prepare, int number, bool beside) {
    prepare(number);
    return store.Run(command(number), beside);
}

// Times one command per iteration: `command` gives it for a number never
// used before, `prepare` does the untimed work before it. The build beside,
// when named, runs its own command in the same iteration, first in every
// other one.
template <typename Command, typename Prepare>
void TimeCommands(benchmark::State& state, const BenchmarkStore& store, Command command, Prepare prepare) {
    static int next = 0;
    static int rounds = 0;
    for (auto _ : state) {
        const int number = next++;
        const bool besideFirst = rounds++ % 2 == 0;
        double beside = 0;
        if (BenchmarkStore::HasBeside() && besideFirst) {
            beside = TimeOne(store, command, prepare, next++, true);
        }
        const double seconds = TimeOne(store, command, prepare, number, false);
        if (BenchmarkStore::HasBeside() && !besideFirst) {
            beside = TimeOne(store, command, prepare, next++, true);
        }
        if (seconds < 0 || beside < 0) {
            state.SkipWithError("Quillbox failed");
            break;
        }
        state.SetIterationTime(seconds);
        if (BenchmarkStore::HasBeside()) {
            state.counters["beside_ms"] = beside * 1000;
        }
    }
}

void BM_List(benchmark::State& state) {
    TimeCommands(
        state, StoreOf(static_cast<int>(state.range(0))), [](int) { return std::string("list"); }, [](int) {});
}

// A different package each time, spread over the list.
std::string UninstallOne(const benchmark::State& state, int number) {
    return "uninstall " + PackageName((number * 7919) % static_cast<int>(state.range(0)));
}

void BM_Uninstall(benchmark::State& state) {
    TimeCommands(
        state, StoreOf(static_cast<int>(state.range(0))), [&](int number) { return UninstallOne(state, number); },
        [](int) {});
}

void BM_UninstallWithInfoFiles(benchmark::State& state) {
    TimeCommands(
        state, StoreOf(static_cast<int>(state.range(0)), true), [&](int number) { return UninstallOne(state, number); },
        [](int) {});
}

// A new package each time, its package-info file placed beforehand.
void BM_Install(benchmark::State& state) {
    const BenchmarkStore& store = StoreOf(static_cast<int>(state.range(0)));
    TimeCommands(
        state, store, [](int number) { return "install Extra" + std::to_string(number); },
        [&](int number) {
            const std::string name = "Extra" + std::to_string(number);
            store.PlaceInfo(name, testsupport::PackageRecord(name, "1.0", "bench"));
        });
}

void Configure(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(10000)->Arg(40000)->UseManualTime()->Iterations(1)->Repetitions(7);
    benchmark->ComputeStatistics("min", Fastest)->ReportAggregatesOnly()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_List)->Apply(Configure);
BENCHMARK(BM_Install)->Apply(Configure);
BENCHMARK(BM_Uninstall)->Apply(Configure);
BENCHMARK(BM_UninstallWithInfoFiles)
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->ComputeStatistics("min", Fastest)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
