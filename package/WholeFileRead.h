#pragma once

#include <string>

class FileClass;
class MemoryFile;

// Store files that are parsed record by record are read whole, in one piece
// of their known size, and parsed from memory: parsed straight from the disk,
// every field of every record would be a read call.

// Reads an open file whole into `bytes`; false when it could not be read
// whole.
[[nodiscard]] bool ReadWholeFile(FileClass& file, std::string& bytes);
// The bytes as a file that a chunk reader can read from its start; false
// when memory ran out.
[[nodiscard]] bool FillMemoryFile(MemoryFile& contents, const std::string& bytes);
