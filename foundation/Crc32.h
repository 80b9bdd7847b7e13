#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of HashName without the upper-casing, for bulk data. Feed the
// bytes in any number of pieces; Value() is the finished checksum.
class Crc32 {
public:
    void Update(const void* data, size_t length);
    uint32_t Value() const { return ~State; }

    // The reference byte-at-a-time table algorithm, kept for comparison.
    static uint32_t Bytewise(const void* data, size_t length);

private:
    uint32_t State = 0xFFFFFFFFu;
};
