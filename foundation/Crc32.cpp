#include "foundation/Crc32.h"

#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILLBOX_CRC32_FOLDING 1
#endif

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

#ifdef QUILLBOX_CRC32_FOLDING

// The processors of the last fifteen years multiply without carries, which
// folds the checksum over 64 bytes at a time at several times the speed of
// the tables: the running remainder is multiplied by x^k mod P for the
// distance k it travels and added to the bytes there, four lanes at once;
// then the lanes are folded into one, and the 64-bit rest is reduced to 32
// bits by Barrett's method. The constants are those powers of x (and the
// polynomial with its Barrett quotient) for the bit-reflected polynomial.
// The length is at least 64 and a multiple of 16.
#define QUILLBOX_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

QUILLBOX_FOLDING_TARGET inline __m128i LoadBlock(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The remainder `folded` times x^(8 * distance) mod P, added to `addend`.
QUILLBOX_FOLDING_TARGET inline __m128i FoldLane(__m128i folded, __m128i constants, __m128i addend) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(folded, constants, 0x00), _mm_clmulepi64_si128(folded, constants, 0x11)),
        addend);
}

QUILLBOX_FOLDING_TARGET uint32_t UpdateFolded(uint32_t crc, const unsigned char* bytes, size_t length) {
    alignas(16) static const uint64_t fold512[2] = {0x0154442bd4ull, 0x01c6e41596ull};
    alignas(16) static const uint64_t fold128[2] = {0x01751997d0ull, 0x00ccaa009eull};
    alignas(16) static const uint64_t fold64[2] = {0x0163cd6124ull, 0};
    alignas(16) static const uint64_t barrett[2] = {0x01db710641ull, 0x01f7011641ull};
    __m128i lane0 = _mm_xor_si128(LoadBlock(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i lane1 = LoadBlock(bytes + 16);
    __m128i lane2 = LoadBlock(bytes + 32);
    __m128i lane3 = LoadBlock(bytes + 48);
    bytes += 64;
    length -= 64;
    __m128i constants = _mm_load_si128(reinterpret_cast<const __m128i*>(fold512));
    while (length >= 64) {
        lane0 = FoldLane(lane0, constants, LoadBlock(bytes));
        lane1 = FoldLane(lane1, constants, LoadBlock(bytes + 16));
        lane2 = FoldLane(lane2, constants, LoadBlock(bytes + 32));
        lane3 = FoldLane(lane3, constants, LoadBlock(bytes + 48));
        bytes += 64;
        length -= 64;
    }
    constants = _mm_load_si128(reinterpret_cast<const __m128i*>(fold128));
    __m128i rest = FoldLane(lane0, constants, lane1);
    rest = FoldLane(rest, constants, lane2);
    rest = FoldLane(rest, constants, lane3);
    while (length >= 16) {
        rest = FoldLane(rest, constants, LoadBlock(bytes));
        bytes += 16;
        length -= 16;
    }

    // 128 bits to 64, then to 32 by Barrett's reduction.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    rest = _mm_xor_si128(_mm_srli_si128(rest, 8), _mm_clmulepi64_si128(rest, constants, 0x10));
    constants = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(fold64));
    rest = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(rest, low32), constants, 0x00), _mm_srli_si128(rest, 4));
    constants = _mm_load_si128(reinterpret_cast<const __m128i*>(barrett));
    __m128i quotient = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(rest, low32), constants, 0x10), low32);
    quotient = _mm_clmulepi64_si128(quotient, constants, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(rest, quotient), 1));
}

bool CanFold() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return supported;
}

#endif

}  // namespace

void Crc32::Update(const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint32_t crc = State;
#ifdef QUILLBOX_CRC32_FOLDING
    if (length >= 64 && CanFold()) {
        const size_t folded = length & ~size_t{15};
        crc = UpdateFolded(crc, bytes, folded);
        bytes += folded;
        length -= folded;
    }
#endif
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
