#pragma once

#include <cstdint>
#include <string>

#include "foundation/Crc32.h"

// Bytes of the store's file formats, built by hand so that tests and
// benchmarks state exactly what lies on disk: little-endian words, texts with
// a 16-bit length, chunks with an id and a size word (whose top bit marks a
// chunk of chunks).
namespace testsupport {

inline std::string Le32(uint32_t value) {
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
            static_cast<char>(value >> 24)};
}

inline std::string Text(const std::string& text) {
    return std::string{static_cast<char>(text.size()), static_cast<char>(text.size() >> 8)} + text;
}

inline std::string Chunk(uint32_t id, const std::string& payload, uint32_t flags = 0) {
    return Le32(id) + Le32(static_cast<uint32_t>(payload.size()) | flags) + payload;
}

// The checksum of a content file.
inline uint32_t Crc(const std::string& bytes) {
    Crc32 crc;
    crc.Update(bytes.data(), bytes.size());
    return crc.Value();
}

}  // namespace testsupport
