#pragma once

#include <cstddef>
#include <cstdint>

// The MD5 message digest of RFC 1321. Feed the bytes in any number of pieces
// with Update; Final pads the message, writes the 16-byte digest and leaves
// the object ready for a new message.
class Md5 {
public:
    static constexpr int DigestSize = 16;

    Md5() { Init(); }

    void Init();
    void Update(const void* data, size_t length);
    void Final(uint8_t digest[DigestSize]);

    // The digest as 32 lower-case hexadecimal digits and a terminating zero.
    static void ToHex(const uint8_t digest[DigestSize], char text[2 * DigestSize + 1]);

private:
    void Transform(const uint8_t* blocks, size_t blockCount);

    uint32_t State[4];
    uint64_t TotalBytes;
    uint8_t Pending[64];
};
