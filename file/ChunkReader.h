#pragma once

#include <cstdint>

class FileClass;
class StringClass;

// Reads the nested chunk encoding written by ChunkWriter. Reads never cross
// the end of the open chunk; CloseChunk skips whatever was not read.
class ChunkReader {
public:
    explicit ChunkReader(FileClass* file);

    bool OpenChunk();
    bool CloseChunk();
    uint32_t CurrentChunkId() const;
    uint32_t CurrentChunkLength() const;
    // Reads count bytes only when the chunk still holds them; else 0.
    int Read(void* buffer, int count);
    // A 16-bit length and that many bytes; empty when the chunk lacks them.
    void ReadString(StringClass& text);

    static constexpr int MaxDepth = 256;

private:
    struct Header {
        uint32_t id;
        uint32_t size;
    };

    FileClass* File;
    int Depth = 0;
    int Consumed[MaxDepth] = {};
    Header Headers[MaxDepth] = {};
};
