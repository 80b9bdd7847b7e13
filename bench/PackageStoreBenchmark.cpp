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
//
// `download` of one package of 1,000, 10,000 and 100,000 content files of
// one byte into an empty store, from a loopback server in this process: the
// processor time of the command (`cpu_ms`) should grow with the count, and
// the first content file be asked for (`first_ms`, from the start of the
// command) within a second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
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
#include <thread>
#include <vector>

#include "ScratchFolders.h"
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

// Serves one repository on 127.0.0.1 with keep-alive: the package-info file
// of one package, and the same byte for every content file; anything else
// is a 404. Notes when the first content file is asked for.
class LoopbackRepository {
public:
    LoopbackRepository(std::string infoPath, std::string infoBytes)
        : InfoPath(std::move(infoPath)), InfoBytes(std::move(infoBytes)) {
        Listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(Listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(Listener, 16) != 0 ||
            getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("loopback server");
            std::exit(2);
        }
        Port = ntohs(address.sin_port);
        Acceptor = std::thread([this] { Accept(); });
    }
    ~LoopbackRepository() {
        shutdown(Listener, SHUT_RDWR);
        Acceptor.join();
        close(Listener);
        for (std::thread& connection : Connections) {
            connection.join();
        }
    }

    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(Port) + "/repo"; }
    void Reset() { FirstFileAsked.store({}); }
    std::chrono::steady_clock::time_point FirstFileTime() const { return FirstFileAsked.load(); }

private:
    void Accept() {
        for (;;) {
            const int connection = accept(Listener, nullptr, nullptr);
            if (connection < 0) {
                return;
            }
            Connections.emplace_back([this, connection] { Serve(connection); });
        }
    }

    void Serve(int connection) {
        std::string received;
        char block[4096];
        for (;;) {
            const size_t end = received.find("\r\n\r\n");
            if (end == std::string::npos) {
                const ssize_t count = read(connection, block, sizeof block);
                if (count <= 0) {
                    break;
                }
                received.append(block, static_cast<size_t>(count));
                continue;
            }
            const size_t pathStart = received.find(' ') + 1;
            const std::string path = received.substr(pathStart, received.find(' ', pathStart) - pathStart);
            received.erase(0, end + 4);
            if (!Answer(connection, path)) {
                break;
            }
        }
        close(connection);
    }

    bool Answer(int connection, const std::string& path) {
        std::string body;
        const char* status = "200 OK";
        if (path == "/repo/" + InfoPath) {
            body = InfoBytes;
        } else if (path.rfind("/repo/files/", 0) == 0) {
            std::chrono::steady_clock::time_point none{};
            FirstFileAsked.compare_exchange_strong(none, std::chrono::steady_clock::now());
            body = "x";
        } else {
            status = "404 Not Found";
        }
        const std::string answer = std::string("HTTP/1.1 ") + status +
                                   "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        return write(connection, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
    }

    std::string InfoPath;
    std::string InfoBytes;
    int Listener = -1;
    int Port = 0;
    std::thread Acceptor;
    std::vector<std::thread> Connections;
    std::atomic<std::chrono::steady_clock::time_point> FirstFileAsked{};
};

double ChildProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One download into a fresh folder and store; the store stays until every
// benchmark has run.
struct DownloadFigures {
    double seconds = -1;
    double processorSeconds = 0;
    double firstFileSeconds = 0;
};

DownloadFigures DownloadOnce(LoopbackRepository& repository, const char* program) {
    std::random_device random;
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("quillbox-bench-download-" + std::to_string(random()));
    std::filesystem::create_directories(root);
    benchsupport::RemoveAtEnd(root);
    std::filesystem::copy_file(program, root / "Quillbox");
    std::system("sync");
    repository.Reset();
    const std::string command = "cd '" + root.string() + "' && HOME='" + root.string() + "' ./Quillbox download Many " +
                                repository.BaseUrl() + " >/dev/null 2>&1";
    DownloadFigures figures;
    const double processorBefore = ChildProcessorSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto end = std::chrono::steady_clock::now();
    if (status == 0) {
        figures.seconds = std::chrono::duration<double>(end - start).count();
        figures.processorSeconds = ChildProcessorSeconds() - processorBefore;
        figures.firstFileSeconds = std::chrono::duration<double>(repository.FirstFileTime() - start).count();
    }
    return figures;
}

void BM_DownloadManyFiles(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::vector<testsupport::ListedFile> files;
    for (int file = 0; file < count; ++file) {
        files.push_back({testsupport::Crc("x"), "maps/field" + std::to_string(file) + ".dds"});
    }
    LoopbackRepository repository("packages/" + testsupport::InfoFileName("Many"),
                                  testsupport::PackageRecord("Many", "1.0", "bench", files));
    const char* program = std::getenv("QUILLBOX_BENCH_PROGRAM");
    const char* beside = std::getenv("QUILLBOX_BENCH_BESIDE");
    static int rounds = 0;
    for (auto _ : state) {
        const bool besideFirst = rounds++ % 2 == 0;
        DownloadFigures before;
        if (beside != nullptr && besideFirst) {
            before = DownloadOnce(repository, beside);
        }
        const DownloadFigures now = DownloadOnce(repository, program != nullptr ? program : QUILLBOX_EXE);
        if (beside != nullptr && !besideFirst) {
            before = DownloadOnce(repository, beside);
        }
        if (now.seconds < 0 || (beside != nullptr && before.seconds < 0)) {
            state.SkipWithError("Quillbox failed");
            break;
        }
        state.SetIterationTime(now.seconds);
        state.counters["cpu_ms"] = now.processorSeconds * 1000;
        state.counters["first_ms"] = now.firstFileSeconds * 1000;
        if (beside != nullptr) {
            state.counters["beside_ms"] = before.seconds * 1000;
            state.counters["beside_cpu_ms"] = before.processorSeconds * 1000;
            state.counters["beside_first_ms"] = before.firstFileSeconds * 1000;
        }
    }
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
// A hundred thousand files take a while and a few hundred MiB of disk per
// run, so fewer rounds.
BENCHMARK(BM_DownloadManyFiles)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", Fastest)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::RunBenchmarksThenRemoveScratch(argc, argv); }
