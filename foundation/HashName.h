#pragma once

#include <cstdint>

// CRC-32 (reflected polynomial 0xEDB88320, initial value and final complement
// all ones) over the ASCII-upper-cased bytes of a name. Identifies packages and
// archive members; "abc" and "ABC" both give 0xA3830348.
uint32_t HashName(const char* text);
