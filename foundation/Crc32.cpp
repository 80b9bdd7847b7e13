#include "foundation/Crc32.h"

#include <array>

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 16;

using Table = std::array<std::array<uint32_t, 256>, kSlices>;

// Table 0 is the standard byte table. Table k gives the effect of a byte
// followed by k zero bytes, which lets sixteen bytes be folded in one step.
constexpr Table MakeTables() {
    Table tables{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1u) ? kPolynomial : 0u);
        }
        tables[0][byte] = crc;
    }
    for (int slice = 1; slice < kSlices; ++slice) {
        for (uint32_t byte = 0; byte < 256; ++byte) {
            const uint32_t previous = tables[slice - 1][byte];
            tables[slice][byte] = (previous >> 8) ^ tables[0][previous & 0xFFu];
        }
    }
    return tables;
}

constexpr Table kTables = MakeTables();

// Assembled byte by byte so the result does not depend on the machine's byte
// order; the compiler turns it into a single load where it can.
inline uint32_t LoadLittleEndian(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The four bytes of `word` followed by `after` more bytes of the block.
inline uint32_t Fold(uint32_t word, int after) {
    return kTables[after + 3][word & 0xFFu] ^ kTables[after + 2][(word >> 8) & 0xFFu] ^
           kTables[after + 1][(word >> 16) & 0xFFu] ^ kTables[after][word >> 24];
}

inline uint32_t UpdateBytewise(uint32_t crc, const unsigned char* bytes, size_t length) {
    for (size_t index = 0; index < length; ++index) {
        crc = (crc >> 8) ^ kTables[0][(crc ^ bytes[index]) & 0xFFu];
    }
    return crc;
}

}  // namespace

void Crc32::Update(const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint32_t crc = State;
    while (length >= 16) {
        // Only the first word depends on the checksum of the block before.
        // Folding the other three first keeps it at the end of the chain of
        // exclusive-ors, so the blocks overlap: about a third faster.
        const uint32_t rest = Fold(LoadLittleEndian(bytes + 4), 8) ^ Fold(LoadLittleEndian(bytes + 8), 4) ^
                              Fold(LoadLittleEndian(bytes + 12), 0);
        crc = rest ^ Fold(LoadLittleEndian(bytes) ^ crc, 12);
        bytes += 16;
        length -= 16;
    }
    State = UpdateBytewise(crc, bytes, length);
}

uint32_t Crc32::Bytewise(const void* data, size_t length) {
    return ~UpdateBytewise(0xFFFFFFFFu, static_cast<const unsigned char*>(data), length);
}
