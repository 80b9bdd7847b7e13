#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A folder of this process for the targets whose readers take a file on disk,
// made on first use and removed at normal exit.
const std::string& FuzzScratchFolder();

// Replaces the file at the path with the bytes; false when it cannot.
bool WriteScratchFile(const std::string& path, const uint8_t* data, size_t size);
