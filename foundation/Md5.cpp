#include "foundation/Md5.h"

#include <bit>
#include <cstring>

namespace {

static_assert(std::endian::native == std::endian::little, "message words are read in host order");

uint32_t LoadWord(const uint8_t* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The four auxiliary functions, each written in a form with few operations
// after x, the value computed by the step before, is known; the bits are
// those of the RFC's definitions. Speed matters: hashing is the bulk of
// Veriprint's work.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ (y ^ z); }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

template <uint32_t (*Function)(uint32_t, uint32_t, uint32_t)>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t word, uint32_t constant, int shift) {
    a += word + constant;
    a = b + std::rotl(a + Function(b, c, d), shift);
}

// G(x, y, z) = (x AND z) OR (y AND NOT z). The two halves share no bits, so
// the OR is an addition, and the half without b joins the sum early.
inline void StepG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t word, uint32_t constant, int shift) {
    a += word + constant + (c & ~d);
    a = b + std::rotl(a + (b & d), shift);
}

}  // namespace

void Md5::Init() {
    State[0] = 0x67452301u;
    State[1] = 0xefcdab89u;
    State[2] = 0x98badcfeu;
    State[3] = 0x10325476u;
    TotalBytes = 0;
}

void Md5::Update(const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    size_t pendingCount = static_cast<size_t>(TotalBytes % 64);
    TotalBytes += length;
    if (pendingCount != 0) {
        const size_t taken = length < 64 - pendingCount ? length : 64 - pendingCount;
        std::memcpy(Pending + pendingCount, bytes, taken);
        bytes += taken;
        length -= taken;
        pendingCount += taken;
        if (pendingCount < 64) {
            return;
        }
        Transform(Pending, 1);
    }
    // Whole blocks are hashed where they lie, without copying.
    Transform(bytes, length / 64);
    std::memcpy(Pending, bytes + length / 64 * 64, length % 64);
}

void Md5::Final(uint8_t digest[DigestSize]) {
    const uint64_t bitCount = TotalBytes * 8;
    const size_t pendingCount = static_cast<size_t>(TotalBytes % 64);
    // One 0x80 byte, zeros up to 56 mod 64, then the bit count: 1 to 64 bytes.
    uint8_t padding[72] = {0x80};
    const size_t zeroEnd = pendingCount < 56 ? 56 : 120;
    const size_t padLength = zeroEnd - pendingCount;
    for (int index = 0; index < 8; ++index) {
        padding[padLength + index] = static_cast<uint8_t>(bitCount >> (8 * index));
    }
    Update(padding, padLength + 8);
    for (int word = 0; word < 4; ++word) {
        for (int index = 0; index < 4; ++index) {
            digest[4 * word + index] = static_cast<uint8_t>(State[word] >> (8 * index));
        }
    }
    Init();
}

void Md5::ToHex(const uint8_t digest[DigestSize], char text[2 * DigestSize + 1]) {
    static const char Digits[] = "0123456789abcdef";
    char* out = text;
    for (int index = 0; index < DigestSize; ++index) {
        *out++ = Digits[digest[index] >> 4];
        *out++ = Digits[digest[index] & 15];
    }
    *out = 0;
}

void Md5::Transform(const uint8_t* blocks, size_t blockCount) {
    uint32_t a = State[0];
    uint32_t b = State[1];
    uint32_t c = State[2];
    uint32_t d = State[3];
    for (; blockCount > 0; --blockCount, blocks += 64) {
        uint32_t x[16];
        for (size_t index = 0; index < 16; ++index) {
            x[index] = LoadWord(blocks + 4 * index);
        }
        const uint32_t oldA = a, oldB = b, oldC = c, oldD = d;

        Step<F>(a, b, c, d, x[0], 0xd76aa478u, 7);
        Step<F>(d, a, b, c, x[1], 0xe8c7b756u, 12);
        Step<F>(c, d, a, b, x[2], 0x242070dbu, 17);
        Step<F>(b, c, d, a, x[3], 0xc1bdceeeu, 22);
        Step<F>(a, b, c, d, x[4], 0xf57c0fafu, 7);
        Step<F>(d, a, b, c, x[5], 0x4787c62au, 12);
        Step<F>(c, d, a, b, x[6], 0xa8304613u, 17);
        Step<F>(b, c, d, a, x[7], 0xfd469501u, 22);
        Step<F>(a, b, c, d, x[8], 0x698098d8u, 7);
        Step<F>(d, a, b, c, x[9], 0x8b44f7afu, 12);
        Step<F>(c, d, a, b, x[10], 0xffff5bb1u, 17);
        Step<F>(b, c, d, a, x[11], 0x895cd7beu, 22);
        Step<F>(a, b, c, d, x[12], 0x6b901122u, 7);
        Step<F>(d, a, b, c, x[13], 0xfd987193u, 12);
        Step<F>(c, d, a, b, x[14], 0xa679438eu, 17);
        Step<F>(b, c, d, a, x[15], 0x49b40821u, 22);

        StepG(a, b, c, d, x[1], 0xf61e2562u, 5);
        StepG(d, a, b, c, x[6], 0xc040b340u, 9);
        StepG(c, d, a, b, x[11], 0x265e5a51u, 14);
        StepG(b, c, d, a, x[0], 0xe9b6c7aau, 20);
        StepG(a, b, c, d, x[5], 0xd62f105du, 5);
        StepG(d, a, b, c, x[10], 0x02441453u, 9);
        StepG(c, d, a, b, x[15], 0xd8a1e681u, 14);
        StepG(b, c, d, a, x[4], 0xe7d3fbc8u, 20);
        StepG(a, b, c, d, x[9], 0x21e1cde6u, 5);
        StepG(d, a, b, c, x[14], 0xc33707d6u, 9);
        StepG(c, d, a, b, x[3], 0xf4d50d87u, 14);
        StepG(b, c, d, a, x[8], 0x455a14edu, 20);
        StepG(a, b, c, d, x[13], 0xa9e3e905u, 5);
        StepG(d, a, b, c, x[2], 0xfcefa3f8u, 9);
        StepG(c, d, a, b, x[7], 0x676f02d9u, 14);
        StepG(b, c, d, a, x[12], 0x8d2a4c8au, 20);

        Step<H>(a, b, c, d, x[5], 0xfffa3942u, 4);
        Step<H>(d, a, b, c, x[8], 0x8771f681u, 11);
        Step<H>(c, d, a, b, x[11], 0x6d9d6122u, 16);
        Step<H>(b, c, d, a, x[14], 0xfde5380cu, 23);
        Step<H>(a, b, c, d, x[1], 0xa4beea44u, 4);
        Step<H>(d, a, b, c, x[4], 0x4bdecfa9u, 11);
        Step<H>(c, d, a, b, x[7], 0xf6bb4b60u, 16);
        Step<H>(b, c, d, a, x[10], 0xbebfbc70u, 23);
        Step<H>(a, b, c, d, x[13], 0x289b7ec6u, 4);
        Step<H>(d, a, b, c, x[0], 0xeaa127fau, 11);
        Step<H>(c, d, a, b, x[3], 0xd4ef3085u, 16);
        Step<H>(b, c, d, a, x[6], 0x04881d05u, 23);
        Step<H>(a, b, c, d, x[9], 0xd9d4d039u, 4);
        Step<H>(d, a, b, c, x[12], 0xe6db99e5u, 11);
        Step<H>(c, d, a, b, x[15], 0x1fa27cf8u, 16);
        Step<H>(b, c, d, a, x[2], 0xc4ac5665u, 23);

        Step<I>(a, b, c, d, x[0], 0xf4292244u, 6);
        Step<I>(d, a, b, c, x[7], 0x432aff97u, 10);
        Step<I>(c, d, a, b, x[14], 0xab9423a7u, 15);
        Step<I>(b, c, d, a, x[5], 0xfc93a039u, 21);
        Step<I>(a, b, c, d, x[12], 0x655b59c3u, 6);
        Step<I>(d, a, b, c, x[3], 0x8f0ccc92u, 10);
        Step<I>(c, d, a, b, x[10], 0xffeff47du, 15);
        Step<I>(b, c, d, a, x[1], 0x85845dd1u, 21);
        Step<I>(a, b, c, d, x[8], 0x6fa87e4fu, 6);
        Step<I>(d, a, b, c, x[15], 0xfe2ce6e0u, 10);
        Step<I>(c, d, a, b, x[6], 0xa3014314u, 15);
        Step<I>(b, c, d, a, x[13], 0x4e0811a1u, 21);
        Step<I>(a, b, c, d, x[4], 0xf7537e82u, 6);
        Step<I>(d, a, b, c, x[11], 0xbd3af235u, 10);
        Step<I>(c, d, a, b, x[2], 0x2ad7d2bbu, 15);
        Step<I>(b, c, d, a, x[9], 0xeb86d391u, 21);

        a += oldA;
        b += oldB;
        c += oldC;
        d += oldD;
    }
    State[0] = a;
    State[1] = b;
    State[2] = c;
    State[3] = d;
}
