#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The bodies of the fuzz targets, one per reader of outside bytes. Each feeds
// the bytes to its reader and returns 0 whatever the bytes hold; it stops the
// process only when the reader broke a promise that every input must keep.
// They are plain functions so that the normal tests replay the seed corpora
// and the kept crash inputs through them with any compiler.
int FuzzPackageRecord(const uint8_t* data, size_t size);
int FuzzPackageIndex(const uint8_t* data, size_t size);
int FuzzMixArchive(const uint8_t* data, size_t size);
int FuzzIniFile(const uint8_t* data, size_t size);
int FuzzEscapeUrlPath(const uint8_t* data, size_t size);
int FuzzManifest(const uint8_t* data, size_t size);
int FuzzDerSignature(const uint8_t* data, size_t size);
int FuzzPemPublicKey(const uint8_t* data, size_t size);
int FuzzContentRange(const uint8_t* data, size_t size);

// Inputs past this size are not tried: the readers' size limits lie far
// above it, and large inputs only slow the search down.
inline constexpr size_t FuzzMaxInputSize = 1 << 20;

// Stops the process with the broken promise named, so that the fuzzer keeps
// the input.
#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (false)
