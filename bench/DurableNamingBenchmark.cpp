// What naming files durably costs the file system by itself, without any
// program around it: many small files written and forced with one force of
// the file system, once created under their final names (what `tar -xf`
// followed by `sync -f` does) and once created under temporary names and
// renamed after the force, then their folder synced (what the store must do,
// so that no name ever stands for unforced bytes). Both go through the
// platform layer that the store uses. The difference is the floor under the
// cost of a durable convert of many small members beside tar. Each run writes
// into a fresh folder, and nothing is removed before the end (ext4 charges
// new files for recent deletions).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ScratchFolders.h"
#include "platform/FileSystem.h"

namespace {

constexpr int FileSize = 4096;

std::filesystem::path NewFolder() {
    static std::random_device random;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("quillbox-naming-" + std::to_string(random()));
    std::filesystem::create_directories(folder);
    benchsupport::RemoveAtEnd(folder);
    return folder;
}

std::string FinalName(const std::string& folder, int index) {
    char name[64];
    std::snprintf(name, sizeof name, "/%08X.maps_m%05d.dat", static_cast<unsigned>(index) * 2654435761u, index);
    return folder + name;
}

std::string TemporaryName(const std::string& folder, int index) {
    return folder + "/convert-" + std::to_string(index) + ".part";
}

bool WriteFile(const std::string& path, const char* bytes) {
    const platform::FileHandle file = platform::OpenFile(path.c_str(), 2);
    if (file == platform::InvalidFileHandle) {
        return false;
    }
    const bool written = platform::WriteFile(file, bytes, FileSize) == FileSize;
    return platform::CloseFile(file) && written;
}

// Seconds to write count files durably, under their final names or renamed
// to them; -1 on failure.
double WriteDurably(int count, bool renamed) {
    const std::string folder = NewFolder().string();
    std::vector<char> bytes(FileSize, 'x');
    const auto start = std::chrono::steady_clock::now();
    platform::DataForcer forcer;
    bool sound = forcer.Open(folder.c_str());
    for (int index = 0; sound && index < count; ++index) {
        sound = WriteFile(renamed ? TemporaryName(folder, index) : FinalName(folder, index), bytes.data());
    }
    sound = sound && forcer.Force();
    for (int index = 0; sound && renamed && index < count; ++index) {
        sound = platform::ReplaceFile(TemporaryName(folder, index).c_str(), FinalName(folder, index).c_str());
    }
    sound = sound && (!renamed || platform::SyncFolder(folder.c_str()));
    return sound ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Both ways in turns, so that a change of the machine's load touches both.
void BM_DurableNaming(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::vector<double> direct;
    std::vector<double> renamed;
    for (auto _ : state) {
        direct.push_back(WriteDurably(count, false));
        renamed.push_back(WriteDurably(count, true));
        if (direct.back() < 0 || renamed.back() < 0) {
            state.SkipWithError("a file could not be written, forced or renamed");
            break;
        }
        state.SetIterationTime(renamed.back());
    }
    state.counters["median:final_names_ms"] = Median(direct) * 1000;
    state.counters["median:renamed_ms"] = Median(renamed) * 1000;
    state.counters["renamed/final_names"] = Median(direct) > 0 ? Median(renamed) / Median(direct) : 0;
}

BENCHMARK(BM_DurableNaming)->Arg(10000)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchsupport::RunBenchmarksThenRemoveScratch(argc, argv); }
