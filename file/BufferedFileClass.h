#pragma once

#include "file/RawFileClass.h"

// A RawFileClass with a 16384-byte read-ahead buffer. Reads larger than the
// buffer go straight to the file; forward seeks from the current position
// consume the buffer instead of dropping it.
class BufferedFileClass : public RawFileClass {
public:
    BufferedFileClass();
    explicit BufferedFileClass(const char* name);
    ~BufferedFileClass() override;

    using RawFileClass::Open;
    int Read(void* buffer, int count) override;
    int Seek(int offset, int origin = FromCurrent) override;
    int Write(const void* buffer, int count) override;
    void Close() override;

    static constexpr int BufferSize = 16384;

private:
    void DropCache();

    unsigned char* Cache = nullptr;
    int CacheSize = 0;
    int CacheFill = 0;
    int CachePos = 0;
};
