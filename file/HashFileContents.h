#pragma once

#include <cstdint>

class FileClass;

// CRC-32 (as HashName, without upper-casing) of an open file's bytes from its
// current position to its end, read in pieces of 16384 bytes. 0 for nothing.
uint32_t HashFileContents(FileClass* file);
