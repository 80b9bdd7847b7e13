// Time of `convert` of the built Quillbox on an archive of 2,000 members,
// beside `cp` of the same archive to the same disk, both in one iteration so
// that they see the same cache and disk state. The archive is written by the
// benchmark and stays in the page cache (warm cache); the disk is synced
// before each timed command, so none pays for another's writeback.
// The benchmark's time is convert with its output left in the page cache;
// counters give cp the same way, both again until the data is on the disk
// (sync: ...), the ratios, and the peak resident size of a conversion (by
// /usr/bin/time when present), which must not grow with the archive.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "foundation/HashName.h"
#include "support/RecordBytes.h"

namespace {

using testsupport::Le32;

constexpr int MemberCount = 2000;
constexpr const char* ArchiveName = "Bench.mix";

std::string MemberName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "maps/member%04d.dat", index);
    return name;
}

struct Entry {
    uint32_t crc;
    uint32_t offset;
    uint32_t size;
};

// Writes a MIX1 archive of MemberCount members of random bytes, streamed so
// that the benchmark itself never holds more than one member.
void WriteArchive(const std::filesystem::path& path, uint64_t totalBytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const uint32_t memberSize = static_cast<uint32_t>(totalBytes / MemberCount);
    std::vector<uint64_t> words((memberSize + 7) / 8);
    std::mt19937_64 random(12345);
    std::vector<Entry> entries;
    uint32_t position = 16;
    out << std::string(16, '\0');
    for (int index = 0; index < MemberCount; ++index) {
        std::generate(words.begin(), words.end(), random);
        out.write(reinterpret_cast<const char*>(words.data()), memberSize);
        entries.push_back({HashName(MemberName(index).c_str()), position, memberSize});
        const uint32_t padding = (8 - memberSize % 8) % 8;
        out << std::string(padding, '\0');
        position += memberSize + padding;
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.crc < b.crc; });
    const uint32_t indexOffset = position;
    std::string tail = Le32(MemberCount);
    for (const Entry& entry : entries) {
        tail += Le32(entry.crc) + Le32(entry.offset) + Le32(entry.size);
    }
    const uint32_t namesOffset = indexOffset + static_cast<uint32_t>(tail.size());
    tail += Le32(MemberCount);
    for (int index = 0; index < MemberCount; ++index) {
        const std::string name = MemberName(index);
        tail += static_cast<char>(name.size() + 1) + name + '\0';
    }
    out << tail;
    out.seekp(0);
    out << "MIX1" << Le32(indexOffset) << Le32(namesOffset) << Le32(0);
}

// A folder with the archive in it, and one fresh run folder per iteration
// with a copy of the program and the copy made by cp. Nothing is deleted
// before the end: ext4 scans recently deleted inodes when it creates files,
// which would charge the 2,000 files of a conversion for the deletions of
// the run before, a cost a real conversion does not have.
class BenchmarkFolder {
public:
    explicit BenchmarkFolder(uint64_t archiveBytes) {
        std::random_device random;
        Root = std::filesystem::temp_directory_path() / ("quillbox-bench-" + std::to_string(random()));
        WriteArchive(Root / ArchiveName, archiveBytes);
    }
    ~BenchmarkFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }

    // A new folder for one iteration, its data written to disk beforehand.
    std::filesystem::path NewRun() {
        const std::filesystem::path run = Root / ("run" + std::to_string(++Runs));
        std::filesystem::create_directories(run);
        std::filesystem::copy_file(QUILLBOX_EXE, run / "Quillbox");
        Shell(run, "sync");
        return run;
    }

    std::string CopyCommand() const { return "cp '" + (Root / ArchiveName).string() + "' copy.mix"; }
    std::string ConvertCommand() const {
        return "./Quillbox convert '" + (Root / ArchiveName).string() + "' 1.0 bench";
    }

    // Runs a shell command in a folder; the seconds taken, or -1 on failure.
    static double Time(const std::filesystem::path& folder, const std::string& command) {
        const auto start = std::chrono::steady_clock::now();
        if (!Shell(folder, command)) {
            return -1;
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    static bool Shell(const std::filesystem::path& folder, const std::string& command) {
        return std::system(("cd '" + folder.string() + "' && " + command + " >/dev/null 2>&1").c_str()) == 0;
    }

    static int StoredFileCount(const std::filesystem::path& run) {
        std::error_code error;
        const auto files = std::filesystem::directory_iterator(run / "Ironveil/Ironveil/mofs/files", error);
        return error ? 0 : static_cast<int>(std::distance(files, std::filesystem::directory_iterator()));
    }

private:
    std::filesystem::path Root;
    int Runs = 0;
};

std::string ReadLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

struct Seconds {
    double copy = 0;
    double convert = 0;
    double copyToDisk = 0;
    double convertToDisk = 0;
};

// Times cp and convert once each with the written data left in the page
// cache, and once each until it is on the disk (the command, then sync).
bool RunPair(BenchmarkFolder& folder, Seconds& total, double& convertSeconds) {
    std::filesystem::path run = folder.NewRun();
    const double copy = BenchmarkFolder::Time(run, folder.CopyCommand());
    run = folder.NewRun();
    const double convert = BenchmarkFolder::Time(run, folder.ConvertCommand());
    const bool converted = BenchmarkFolder::StoredFileCount(run) == MemberCount;
    run = folder.NewRun();
    const double copyToDisk = BenchmarkFolder::Time(run, folder.CopyCommand() + " && sync");
    run = folder.NewRun();
    const double convertToDisk = BenchmarkFolder::Time(run, folder.ConvertCommand() + " && sync");
    if (copy < 0 || convert < 0 || copyToDisk < 0 || convertToDisk < 0 || !converted) {
        return false;
    }
    total.copy += copy;
    total.convert += convert;
    total.copyToDisk += copyToDisk;
    total.convertToDisk += convertToDisk;
    convertSeconds = convert;
    return true;
}

void BM_ConvertBesideCopy(benchmark::State& state) {
    BenchmarkFolder folder(static_cast<uint64_t>(state.range(0)) << 20);
    Seconds total;
    for (auto _ : state) {
        double convert = 0;
        if (!RunPair(folder, total, convert)) {
            state.SkipWithError("cp or convert failed");
            break;
        }
        state.SetIterationTime(convert);
    }
    using benchmark::Counter;
    state.counters["cp_ms"] = Counter(total.copy * 1000, Counter::kAvgIterations);
    state.counters["convert/cp"] = total.copy > 0 ? total.convert / total.copy : 0;
    state.counters["sync:cp_ms"] = Counter(total.copyToDisk * 1000, Counter::kAvgIterations);
    state.counters["sync:convert_ms"] = Counter(total.convertToDisk * 1000, Counter::kAvgIterations);
    state.counters["sync:convert/cp"] = total.copyToDisk > 0 ? total.convertToDisk / total.copyToDisk : 0;
    const std::filesystem::path run = folder.NewRun();
    if (BenchmarkFolder::Shell(run, "/usr/bin/time -f %M -o rss.txt " + folder.ConvertCommand())) {
        state.counters["convert_maxrss_KiB"] = std::atof(ReadLine(run / "rss.txt").c_str());
    }
}

// Archive sizes in MiB: the 1 GiB to judge by, and a small one beside it to
// show that memory does not grow with the archive.
BENCHMARK(BM_ConvertBesideCopy)->Arg(64)->Arg(1024)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
