#pragma once

#include <cstdint>

class FileClass;
class StringClass;

// Writes the nested chunk encoding: an 8-byte header (id, payload size with
// bit 31 set when sub-chunks were begun inside) and the payload. Each header
// is rewritten with its final size when its chunk ends, so the file must
// allow seeking back.
class ChunkWriter {
public:
    explicit ChunkWriter(FileClass* file);

    bool BeginChunk(uint32_t id);
    // Fails, leaving the file position where the failure left it, when either
    // seek fails or the header cannot be rewritten.
    bool EndChunk();
    int Write(const void* buffer, int count);
    // A 16-bit length and that many bytes, no terminator. A text longer than
    // MaxStringLength is refused: nothing is written and 0 returned.
    int WriteString(const StringClass& text);

    static constexpr int MaxDepth = 256;
    static constexpr int MaxStringLength = 0xFFFF;

private:
    struct Header {
        uint32_t id;
        uint32_t size;
    };
    void AddToCurrentSize(uint32_t count);

    FileClass* File;
    int Depth = 0;
    int Positions[MaxDepth] = {};
    Header Headers[MaxDepth] = {};
};
