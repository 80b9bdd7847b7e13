#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "file/FileClass.h"

// An always-open file over a std::string for the chunk tests (foundation does
// not link the file layer). It counts the calls that reach its contents.
class StringFile : public FileClass {
public:
    StringFile() = default;
    explicit StringFile(std::string bytes) : Bytes(std::move(bytes)) {}

    const std::string& Contents() const { return Bytes; }

    int Read(void* buffer, int count) override {
        ++Calls;
        const int available = std::min<int>(count, static_cast<int>(Bytes.size()) - Position);
        if (available <= 0) {
            return 0;
        }
        std::memcpy(buffer, Bytes.data() + Position, static_cast<size_t>(available));
        Position += available;
        return available;
    }
    int Write(const void* buffer, int count) override {
        ++Calls;
        if (count <= 0) {
            return 0;
        }
        const size_t end = static_cast<size_t>(Position) + static_cast<size_t>(count);
        Bytes.resize(std::max(Bytes.size(), end));
        std::memcpy(Bytes.data() + Position, buffer, static_cast<size_t>(count));
        Position = static_cast<int>(end);
        return count;
    }
    int Seek(int offset, int origin) override {
        ++Calls;
        if (SeeksBeforeFailure >= 0 && SeeksBeforeFailure-- == 0) {
            return -1;
        }
        const long long base = origin == FromStart     ? 0
                               : origin == FromCurrent ? Position
                                                       : static_cast<long long>(Bytes.size());
        Position = static_cast<int>(std::clamp<long long>(base + offset, 0, static_cast<long long>(Bytes.size())));
        return Position;
    }
    int Size() override { return static_cast<int>(Bytes.size()); }

    const char* GetFileName() const override { return ""; }
    const char* SetFileName(const char*) override { return nullptr; }
    bool Create() override { return false; }
    bool Delete() override { return false; }
    bool IsAvailable(bool) override { return true; }
    bool IsOpen() const override { return true; }
    int Open(int) override { return 1; }
    int Open(const char*, int) override { return 1; }
    void Close() override {}
    void Error(int, bool, const char*) override {}
    void SetWindow(int, int) override {}
    bool HasWindow() const override { return false; }

    int Calls = 0;
    // When not negative, the number of seeks that succeed; every later one fails.
    int SeeksBeforeFailure = -1;

private:
    std::string Bytes;
    int Position = 0;
};
