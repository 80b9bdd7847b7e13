// Time of `convert` of the built Quillbox on an archive of many members,
// beside `tar -xf` of a tar holding the same members followed by `sync -f` of
// the folder it wrote: both read one archive and write one file per member
// durably (convert forces its files to the disk before it names them), so
// the difference is what convert adds (the checksum, the package-info file).
// Two shapes: 10,000 members of 4 KiB, where the cost per file rules, and
// 2,000 members making 1 GiB, where the bytes do. The runs alternate, each in
// a fresh folder, with the archives in the page cache and the disk synced
// before each timed command, so none pays for another's writeback. The benchmark's time
// is convert; counters give the medians of both, their ratio, cp of the
// archive as a second yardstick, and the peak resident size of a conversion
// (by /usr/bin/time when present), which must not grow with the archive. A
// second build named by QUILLBOX_BENCH_BESIDE is timed in the same rounds. The
// processor time of both (user and system) is given too: on a machine shared
// with other work it shows what wall-clock time hides.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ScratchFolders.h"
#include "foundation/HashName.h"
#include "support/RecordBytes.h"

namespace {

using testsupport::Le32;

constexpr const char* ArchiveName = "Bench.mix";
constexpr const char* TarName = "Bench.tar";
constexpr size_t TarBlock = 512;

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

// A ustar header for a regular file of the given size.
std::string TarHeader(const std::string& name, uint32_t size) {
    std::string header(TarBlock, '\0');
    auto put = [&header](size_t at, const std::string& text) { header.replace(at, text.size(), text); };
    char octal[16];
    put(0, name);
    put(100, "0000644");
    put(108, "0000000");
    put(116, "0000000");
    std::snprintf(octal, sizeof octal, "%011o", size);
    put(124, octal);
    put(136, "00000000000");
    put(148, "        ");
    header[156] = '0';
    put(257, "ustar");
    put(263, "00");
    unsigned sum = 0;
    for (const char byte : header) {
        sum += static_cast<unsigned char>(byte);
    }
    std::snprintf(octal, sizeof octal, "%06o", sum);
    put(148, octal);
    header[155] = ' ';
    return header;
}

std::string MixTail(std::vector<Entry> entries, uint32_t indexOffset, uint32_t& namesOffset) {
    const int memberCount = static_cast<int>(entries.size());
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.crc < b.crc; });
    std::string tail = Le32(memberCount);
    for (const Entry& entry : entries) {
        tail += Le32(entry.crc) + Le32(entry.offset) + Le32(entry.size);
    }
    namesOffset = indexOffset + static_cast<uint32_t>(tail.size());
    tail += Le32(memberCount);
    for (int index = 0; index < memberCount; ++index) {
        const std::string name = MemberName(index);
        tail += static_cast<char>(name.size() + 1) + name + '\0';
    }
    return tail;
}

// Writes a MIX1 archive and a tar of the same members of random bytes,
// streamed so that the benchmark itself never holds more than one.
void WriteArchives(const std::filesystem::path& folder, int memberCount, uint64_t totalBytes) {
    std::filesystem::create_directories(folder);
    std::ofstream mix(folder / ArchiveName, std::ios::binary | std::ios::trunc);
    std::ofstream tar(folder / TarName, std::ios::binary | std::ios::trunc);
    const uint32_t memberSize = static_cast<uint32_t>(totalBytes / memberCount);
    std::vector<uint64_t> words((memberSize + 7) / 8);
    std::mt19937_64 random(12345);
    std::vector<Entry> entries;
    uint32_t position = 16;
    mix << std::string(16, '\0');
    for (int index = 0; index < memberCount; ++index) {
        std::generate(words.begin(), words.end(), random);
        const char* bytes = reinterpret_cast<const char*>(words.data());
        mix.write(bytes, memberSize);
        entries.push_back({HashName(MemberName(index).c_str()), position, memberSize});
        const uint32_t padding = (8 - memberSize % 8) % 8;
        mix << std::string(padding, '\0');
        position += memberSize + padding;
        tar << TarHeader(MemberName(index), memberSize);
        tar.write(bytes, memberSize);
        tar << std::string((TarBlock - memberSize % TarBlock) % TarBlock, '\0');
    }
    tar << std::string(2 * TarBlock, '\0');
    uint32_t namesOffset = 0;
    mix << MixTail(entries, position, namesOffset);
    mix.seekp(0);
    mix << "MIX1" << Le32(position) << Le32(namesOffset) << Le32(0);
}

// The program measured: the one built with the benchmark, or another one
// named by QUILLBOX_EXE.
std::filesystem::path Program() {
    const char* chosen = std::getenv("QUILLBOX_EXE");
    return chosen != nullptr && *chosen != '\0' ? chosen : QUILLBOX_EXE;
}

// A second build measured in the same rounds, for a before-and-after table:
// QUILLBOX_BENCH_BESIDE; empty when none is named. Runs in separate processes
// of the benchmark do not compare, since the scratch folders each one deletes
// at its end slow the next one's file creation for minutes.
std::filesystem::path BesideProgram() {
    const char* chosen = std::getenv("QUILLBOX_BENCH_BESIDE");
    return chosen != nullptr ? chosen : "";
}

// Seconds of one command: wall-clock time, and the processor time it used
// (user and system, by TimeProgram), which another job on the machine moves
// far less. -1 when unknown.
struct Sample {
    double wall = -1;
    double cpu = -1;
};

constexpr const char* TimeProgram = "/usr/bin/time";

// A folder with the archives in it, and one fresh run folder per command with
// a copy of the program. Nothing is deleted before the benchmark ends, for
// no shape: ext4 passes over inodes deleted in the last minutes (up to five)
// when it creates files, which would charge the files of one command for the
// deletions of another, a cost a real run does not have (ScratchFolders.h).
// For the same reason the figures mean something only after some minutes
// without large deletions on the file system of the temporary folder.
class BenchmarkFolder {
public:
    BenchmarkFolder(int memberCount, uint64_t archiveBytes) : Members(memberCount) {
        std::random_device random;
        Root = std::filesystem::temp_directory_path() / ("quillbox-bench-" + std::to_string(random()));
        WriteArchives(Root, memberCount, archiveBytes);
    }
    ~BenchmarkFolder() { benchsupport::RemoveAtEnd(Root); }
    BenchmarkFolder(const BenchmarkFolder&) = delete;
    BenchmarkFolder& operator=(const BenchmarkFolder&) = delete;

    // A new folder for one command, its data written to disk beforehand.
    std::filesystem::path NewRun(const std::filesystem::path& program = Program()) {
        const std::filesystem::path run = Root / ("run" + std::to_string(++Runs));
        std::filesystem::create_directories(run);
        std::filesystem::copy_file(program, run / "Quillbox");
        Shell(run, "sync");
        return run;
    }

    // tar forces nothing itself; sync -f forces the file system it wrote to.
    std::string TarCommand() const { return "sh -c \"tar -xf '" + (Root / TarName).string() + "' && sync -f .\""; }
    std::string CopyCommand() const { return "cp '" + (Root / ArchiveName).string() + "' copy.mix"; }
    std::string ConvertCommand() const {
        return "./Quillbox convert '" + (Root / ArchiveName).string() + "' 1.0 bench";
    }

    // Runs a shell command in a new run folder and measures it; a wall time
    // of -1 for a failure. The folder is left in run for checks.
    Sample Time(const std::string& command, std::filesystem::path& run,
                const std::filesystem::path& program = Program()) {
        run = NewRun(program);
        const bool counted = std::filesystem::exists(TimeProgram);
        const std::string timed = counted ? std::string(TimeProgram) + " -f '%U %S' -o cpu.txt " + command : command;
        const auto start = std::chrono::steady_clock::now();
        if (!Shell(run, timed)) {
            return {};
        }
        Sample sample;
        sample.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::ifstream cpu(run / "cpu.txt");
        double user = 0;
        double system = 0;
        if (counted && cpu >> user >> system) {
            sample.cpu = user + system;
        }
        return sample;
    }

    static bool Shell(const std::filesystem::path& folder, const std::string& command) {
        return std::system(("cd '" + folder.string() + "' && " + command + " >/dev/null 2>&1").c_str()) == 0;
    }

    static int FileCount(const std::filesystem::path& folder) {
        std::error_code error;
        const auto files = std::filesystem::directory_iterator(folder, error);
        return error ? 0 : static_cast<int>(std::distance(files, std::filesystem::directory_iterator()));
    }

    int MemberCount() const { return Members; }

private:
    std::filesystem::path Root;
    int Members;
    int Runs = 0;
};

std::string ReadLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

double Median(const std::vector<Sample>& samples, double Sample::*field) {
    std::vector<double> values;
    for (const Sample& sample : samples) {
        if (sample.*field >= 0) {
            values.push_back(sample.*field);
        }
    }
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Times {
    std::vector<Sample> tar;
    std::vector<Sample> convert;
    std::vector<Sample> beside;
    std::vector<Sample> copy;
};

// One conversion by the program, checked for its result.
bool TimeConversion(BenchmarkFolder& folder, const std::filesystem::path& program, std::vector<Sample>& samples) {
    std::filesystem::path run;
    const Sample sample = folder.Time(folder.ConvertCommand(), run, program);
    samples.push_back(sample);
    return sample.wall >= 0 && BenchmarkFolder::FileCount(run / "Ironveil/Ironveil/mofs/files") == folder.MemberCount();
}

// One round: tar, convert (and the build beside, the two in turns first) and
// cp, each once, each checked for its result.
bool RunRound(BenchmarkFolder& folder, Times& times) {
    std::filesystem::path run;
    const Sample tar = folder.Time(folder.TarCommand(), run);
    const bool extracted = BenchmarkFolder::FileCount(run / "maps") == folder.MemberCount();
    times.tar.push_back(tar);
    bool converted = true;
    const bool besideFirst = !BesideProgram().empty() && times.tar.size() % 2 == 0;
    if (besideFirst) {
        converted = TimeConversion(folder, BesideProgram(), times.beside);
    }
    converted = TimeConversion(folder, Program(), times.convert) && converted;
    if (!BesideProgram().empty() && !besideFirst) {
        converted = TimeConversion(folder, BesideProgram(), times.beside) && converted;
    }
    const Sample copy = folder.Time(folder.CopyCommand(), run);
    times.copy.push_back(copy);
    return tar.wall >= 0 && copy.wall >= 0 && extracted && converted;
}

void BM_ConvertBesideTar(benchmark::State& state) {
    BenchmarkFolder folder(static_cast<int>(state.range(0)), static_cast<uint64_t>(state.range(1)) << 20);
    Times times;
    for (auto _ : state) {
        if (!RunRound(folder, times)) {
            state.SkipWithError("tar, convert or cp failed");
            break;
        }
        state.SetIterationTime(times.convert.back().wall);
    }
    const double tar = Median(times.tar, &Sample::wall);
    const double convert = Median(times.convert, &Sample::wall);
    const double copy = Median(times.copy, &Sample::wall);
    state.counters["median:convert_ms"] = convert * 1000;
    state.counters["median:tar+sync_ms"] = tar * 1000;
    state.counters["convert/(tar+sync)"] = tar > 0 ? convert / tar : 0;
    if (!times.beside.empty()) {
        const double beside = Median(times.beside, &Sample::wall);
        state.counters["median:beside_ms"] = beside * 1000;
        state.counters["beside/(tar+sync)"] = tar > 0 ? beside / tar : 0;
    }
    state.counters["median:cp_ms"] = copy * 1000;
    state.counters["convert/cp"] = copy > 0 ? convert / copy : 0;
    const double tarCpu = Median(times.tar, &Sample::cpu);
    const double convertCpu = Median(times.convert, &Sample::cpu);
    state.counters["cpu:convert_ms"] = convertCpu * 1000;
    state.counters["cpu:tar+sync_ms"] = tarCpu * 1000;
    state.counters["cpu:convert/(tar+sync)"] = tarCpu > 0 ? convertCpu / tarCpu : 0;
    std::filesystem::path run = folder.NewRun();
    if (BenchmarkFolder::Shell(run, std::string(TimeProgram) + " -f %M -o rss.txt " + folder.ConvertCommand())) {
        state.counters["convert_maxrss_KiB"] = std::atof(ReadLine(run / "rss.txt").c_str());
    }
}

// Members and archive size in MiB: 10,000 small members and 2,000 making
// 1 GiB to judge by, and 2,000 making 64 MiB beside them to show that memory
// does not grow with the archive. Five rounds give medians that one slow run
// does not move.
BENCHMARK(BM_ConvertBesideTar)
    ->Args({10000, 40})
    ->Args({2000, 64})
    ->Args({2000, 1024})
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::RunBenchmarksThenRemoveScratch(argc, argv); }
