#pragma once

#include "file/FileClass.h"

// A file whose contents live in a growable memory buffer. Always open, no
// name. Operations that make no sense for it are programming errors.
class MemoryFile : public FileClass {
public:
    MemoryFile() = default;
    ~MemoryFile() override;
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const char* GetFileName() const override;
    const char* SetFileName(const char* name) override;
    bool Create() override;
    bool Delete() override;
    bool IsAvailable(bool forced = false) override;
    bool IsOpen() const override;
    int Open(int rights = ReadOnly) override;
    int Open(const char* name, int rights = ReadOnly) override;
    int Read(void* buffer, int count) override;
    int Seek(int offset, int origin = FromCurrent) override;
    int Size() override;
    int Write(const void* buffer, int count) override;
    void Close() override;
    void Error(int code, bool canRetry = false, const char* fileName = nullptr) override;
    void SetWindow(int start, int length) override;
    bool HasWindow() const override;

    int GetCapacity() const { return Capacity; }
    // The bytes held, Size() of them.
    const char* GetData() const { return reinterpret_cast<const char*>(Buffer); }
    // Makes room for `capacity` bytes at once, so that contents of a known
    // size are not copied while they grow; false when memory ran out.
    bool Reserve(int capacity);

private:
    bool Grow(int capacity);

    unsigned char* Buffer = nullptr;
    int Position = 0;
    int Length = 0;
    int Capacity = 0;
};
