#include "quillbox/Console.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr size_t OutBufferSize = 65536;

}  // namespace

void BufferOut() { std::setvbuf(stdout, nullptr, _IOFBF, OutBufferSize); }

void PrintOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

void PrintError(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

void FlushOut() { std::fflush(stdout); }
