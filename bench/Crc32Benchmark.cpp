// Throughput of the content CRC beside zlib's crc32 (the CRC a user's tools
// compute) and the plain byte-at-a-time table CRC, all on the same buffer, so
// the figures can be compared directly. Target: at least 0.8 times zlib.
#include "foundation/Crc32.h"

#include <benchmark/benchmark.h>
#ifdef QUILLBOX_BENCH_ZLIB
#include <zlib.h>
#endif

#include <cstdint>
#include <vector>

namespace {

std::vector<unsigned char> MakeBuffer(size_t size) {
    std::vector<unsigned char> buffer(size);
    uint32_t state = 0x9E3779B9u;
    for (auto& byte : buffer) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return buffer;
}

void BM_Crc32Update(benchmark::State& state) {
    const std::vector<unsigned char> buffer = MakeBuffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        Crc32 crc;
        crc.Update(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(crc.Value());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Crc32Bytewise(benchmark::State& state) {
    const std::vector<unsigned char> buffer = MakeBuffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc32::Bytewise(buffer.data(), buffer.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

#ifdef QUILLBOX_BENCH_ZLIB
void BM_ZlibCrc32(benchmark::State& state) {
    const std::vector<unsigned char> buffer = MakeBuffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(0, buffer.data(), static_cast<uInt>(buffer.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ZlibCrc32)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK(BM_Crc32Update)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc32Bytewise)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
