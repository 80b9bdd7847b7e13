#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/Crc32.h"
#include "foundation/HashName.h"

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

// The bytes followed by four more that give the whole the checksum `target`:
// how an attacker makes other bytes pass for a listed file. The register is
// run backwards from the target through the four bytes (each step's table
// entry is known by its top byte, which no two entries share).
inline std::string ForgeCrc(std::string bytes, uint32_t target) {
    uint32_t table[256];
    for (uint32_t index = 0; index < 256; ++index) {
        uint32_t value = index;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value >> 1) ^ ((value & 1) != 0 ? 0xEDB88320u : 0);
        }
        table[index] = value;
    }
    uint32_t reg = ~target;
    for (int step = 0; step < 4; ++step) {
        uint32_t entry = 0;
        while (table[entry] >> 24 != reg >> 24) {
            ++entry;
        }
        reg = ((reg ^ table[entry]) << 8) | entry;
    }
    const uint32_t suffix = reg ^ ~Crc(bytes);
    return bytes + Le32(suffix);
}

// A printable name whose identifier is that of "Maps" (found by solving the
// checksum's linear equations over the choice of A or B at each place): a
// name anyone can make, of another package.
inline const std::string MapsTwin = "TwinAAABAABBAAAAAABABBBBAABBAABABBAAAAAAAAAA";

// One content file as a package record lists it.
struct ListedFile {
    uint32_t crc = 0;
    std::string name;
    uint32_t size = 1;
};

// A package record, which is also the whole of a package-info file: the
// package's data chunk, then a chunk per content file.
inline std::string PackageRecord(const std::string& name, const std::string& version, const std::string& author,
                                 const std::vector<ListedFile>& files = {}) {
    std::string bytes = Chunk(0x44415441, Text(name) + Text(version) + Text(author) + Le32(2));
    for (const ListedFile& file : files) {
        bytes += Chunk(0x46494C45, Le32(file.crc) + Le32(file.size) + Text(file.name));
    }
    return bytes;
}

// One entry of the index: a package record inside the chunk that marks a
// package, a chunk of chunks.
inline std::string IndexEntry(const std::string& record) { return Chunk(0x50434B47, record, 0x80000000u); }

// The name of a package's package-info file in the store's packages/ folder.
inline std::string InfoFileName(const std::string& packageName) {
    char name[16];
    std::snprintf(name, sizeof name, "%08x.kpi", HashName(packageName.c_str()));
    return name;
}

// The record of package "pk", version "1", author "me", with one file "a.dat"
// of 10 bytes and checksum 0xA684C7C6, written out byte by byte.
inline const std::string WorkedRecord = std::string(
    "\x41\x54\x41\x44\x0F\x00\x00\x00"
    "\x02\x00\x70\x6B\x01\x00\x31\x02\x00\x6D\x65\x02\x00\x00\x00"
    "\x45\x4C\x49\x46\x0F\x00\x00\x00"
    "\xC6\xC7\x84\xA6\x0A\x00\x00\x00\x05\x00\x61\x2E\x64\x61\x74",
    46);

}  // namespace testsupport
