#include "foundation/StringClass.h"

#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kCapacityOffset = 0;
constexpr size_t kLengthOffset = 4;
constexpr int kSlotCount = 8;
constexpr size_t kSlotSize = 256;
constexpr int kSlotCapacity = 248;
constexpr uint32_t kAllSlotsFree = 0x000000FFu;
constexpr size_t kScratchSize = 512;

// The one empty text every empty string points at. It is never written and
// never freed; it has no header, so its capacity and length are implied.
char SharedEmptyString[1] = {0};

struct TemporaryStringPool {
    uint32_t FreeMask = kAllSlotsFree;
    alignas(8) char Slots[kSlotCount * kSlotSize];
};

// Each thread has its own pool, so taking and returning slots needs no lock.
thread_local TemporaryStringPool Pool;

// Header fields are copied rather than cast so that the character array
// holding them is never read through an int pointer.
int32_t ReadHeaderField(const char* text, size_t offset) {
    int32_t value;
    std::memcpy(&value, text - kHeaderSize + offset, sizeof(value));
    return value;
}

void WriteHeaderField(char* text, size_t offset, int32_t value) {
    std::memcpy(text - kHeaderSize + offset, &value, sizeof(value));
}

char* StartBuffer(char* header, int capacity) {
    char* text = header + kHeaderSize;
    WriteHeaderField(text, kCapacityOffset, capacity);
    WriteHeaderField(text, kLengthOffset, 0);
    text[0] = 0;
    return text;
}

bool IsInCallingThreadPool(const char* text) {
    const auto header = reinterpret_cast<uintptr_t>(text) - kHeaderSize;
    const auto areaStart = reinterpret_cast<uintptr_t>(Pool.Slots);
    return header >= areaStart && header < areaStart + sizeof(Pool.Slots);
}

// A buffer for `capacity` bytes, terminator included, or null when no memory
// could be had. Temporaries that fit a slot take the lowest free one.
char* ObtainBuffer(int capacity, bool temporary) {
    if (temporary && capacity < kSlotCapacity && Pool.FreeMask != 0) {
        const int slot = std::countr_zero(Pool.FreeMask);
        Pool.FreeMask &= ~(1u << slot);
        return StartBuffer(Pool.Slots + slot * kSlotSize, kSlotCapacity);
    }
    char* header = new (std::nothrow) char[static_cast<size_t>(capacity) + kHeaderSize];
    return header == nullptr ? nullptr : StartBuffer(header, capacity);
}

void ReleaseBuffer(char* text) {
    if (text == SharedEmptyString) {
        return;
    }
    if (IsInCallingThreadPool(text)) {
        const auto offset = static_cast<size_t>(text - kHeaderSize - Pool.Slots);
        text[0] = 0;
        Pool.FreeMask |= 1u << (offset / kSlotSize);
        return;
    }
    delete[](text - kHeaderSize);
}

// Lengths must leave room for the terminator in a signed 32-bit capacity.
bool FitsCapacity(size_t length) { return length < static_cast<size_t>(INT_MAX); }

size_t TextLength(const char* text) { return text == nullptr ? 0 : std::strlen(text); }

int CapacityOf(const char* text) { return text == SharedEmptyString ? 0 : ReadHeaderField(text, kCapacityOffset); }

// The cached length is 0 until someone needs it; then it is counted once.
int LengthOf(char* text) {
    if (text == SharedEmptyString) {
        return 0;
    }
    int length = ReadHeaderField(text, kLengthOffset);
    if (length == 0) {
        length = static_cast<int>(std::strlen(text));
        WriteHeaderField(text, kLengthOffset, length);
    }
    return length;
}

// The text may lie inside this string's own buffer, so it is read before the
// old buffer goes and moved with memmove when the buffer is kept.
void AssignText(char*& buffer, const char* text, size_t length) {
    if (!FitsCapacity(length)) {
        return;
    }
    const int needed = static_cast<int>(length) + 1;
    if (CapacityOf(buffer) < needed) {
        char* fresh = ObtainBuffer(needed, false);
        if (fresh == nullptr) {
            return;
        }
        std::memcpy(fresh, text, length);
        ReleaseBuffer(buffer);
        buffer = fresh;
    } else {
        std::memmove(buffer, text, length);
    }
    buffer[length] = 0;
    WriteHeaderField(buffer, kLengthOffset, static_cast<int>(length));
}

void AppendText(char*& buffer, const char* text, size_t added) {
    if (added == 0) {
        return;
    }
    const auto kept = static_cast<size_t>(LengthOf(buffer));
    if (added > static_cast<size_t>(INT_MAX) || !FitsCapacity(kept + added)) {
        return;
    }
    const size_t total = kept + added;
    const int needed = static_cast<int>(total) + 1;
    if (CapacityOf(buffer) < needed) {
        char* fresh = ObtainBuffer(needed, false);
        if (fresh == nullptr) {
            return;
        }
        std::memcpy(fresh, buffer, kept);
        std::memcpy(fresh + kept, text, added);
        ReleaseBuffer(buffer);
        buffer = fresh;
    } else {
        std::memmove(buffer + kept, text, added);
    }
    buffer[total] = 0;
    WriteHeaderField(buffer, kLengthOffset, static_cast<int>(total));
}

}  // namespace

StringClass::StringClass() : Text(SharedEmptyString) {}

StringClass::StringClass(const char* text) : Text(SharedEmptyString) {
    if (text != nullptr) {
        AssignText(Text, text, std::strlen(text));
    }
}

StringClass::StringClass(const StringClass& other, bool temporary) : Text(SharedEmptyString) {
    const int length = other.GetLength();
    char* fresh = ObtainBuffer(length + 1, temporary);
    if (fresh != nullptr) {
        std::memcpy(fresh, other.Text, static_cast<size_t>(length) + 1);
        Text = fresh;
        WriteHeaderField(Text, kLengthOffset, length);
    }
}

StringClass::StringClass(StringClass&& other) noexcept : Text(SharedEmptyString) { *this = std::move(other); }

StringClass::~StringClass() { Release(); }

StringClass& StringClass::operator=(const char* text) {
    AssignText(Text, text == nullptr ? "" : text, TextLength(text));
    return *this;
}

StringClass& StringClass::operator=(const StringClass& other) {
    if (this == &other) {
        return *this;
    }
    AssignText(Text, other.Text, static_cast<size_t>(other.GetLength()));
    return *this;
}

// Only heap buffers change hands. A pool slot must stay with the thread that
// took it, and the receiving string may be handed to another one, so a
// pooled source is copied instead.
StringClass& StringClass::operator=(StringClass&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    if (other.IsPooled()) {
        AssignText(Text, other.Text, static_cast<size_t>(other.GetLength()));
        other.Release();
        return *this;
    }
    ReleaseBuffer(Text);
    Text = other.Text;
    other.Text = SharedEmptyString;
    return *this;
}

StringClass& StringClass::operator+=(const char* text) {
    AppendText(Text, text, TextLength(text));
    return *this;
}

StringClass& StringClass::operator+=(const StringClass& other) {
    AppendText(Text, other.Text, static_cast<size_t>(other.GetLength()));
    return *this;
}

StringClass& StringClass::operator+=(char character) {
    AppendText(Text, &character, character == 0 ? 0 : 1);
    return *this;
}

StringClass StringClass::operator+(const char* text) const {
    StringClass working(*this, true);
    working += text;
    return StringClass(working);
}

bool StringClass::operator==(const StringClass& other) const { return std::strcmp(Text, other.Text) == 0; }

bool StringClass::operator==(const char* text) const { return std::strcmp(Text, text == nullptr ? "" : text) == 0; }

int StringClass::GetLength() const { return LengthOf(Text); }

int StringClass::GetCapacity() const { return CapacityOf(Text); }

int StringClass::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int count = FormatArgs(format, args);
    va_end(args);
    return count;
}

// Output that does not fit the scratch buffer is formatted a second time in
// full: a path or address cut short would name the wrong thing.
int StringClass::FormatArgs(const char* format, va_list args) {
    if (format == nullptr) {
        AssignText(Text, "", 0);
        return 0;
    }
    va_list again;
    va_copy(again, args);
    char scratch[kScratchSize];
    int count = std::vsnprintf(scratch, sizeof(scratch), format, args);
    if (count < 0) {
        AssignText(Text, "", 0);
    } else if (static_cast<size_t>(count) < sizeof(scratch)) {
        AssignText(Text, scratch, static_cast<size_t>(count));
    } else if (char* whole = new (std::nothrow) char[static_cast<size_t>(count) + 1]) {
        std::vsnprintf(whole, static_cast<size_t>(count) + 1, format, again);
        AssignText(Text, whole, static_cast<size_t>(count));
        delete[] whole;
    } else {
        count = -1;
    }
    va_end(again);
    return count;
}

char* StringClass::GetBuffer(int capacity) {
    const int needed = capacity < 1 ? 1 : capacity;
    if (GetCapacity() < needed) {
        char* fresh = ObtainBuffer(needed, false);
        if (fresh == nullptr) {
            Release();
            return nullptr;
        }
        ReleaseBuffer(Text);
        Text = fresh;
    }
    Text[0] = 0;
    WriteHeaderField(Text, kLengthOffset, 0);
    return Text;
}

void StringClass::Release() {
    ReleaseBuffer(Text);
    Text = SharedEmptyString;
}

bool StringClass::IsPooled() const { return Text != SharedEmptyString && IsInCallingThreadPool(Text); }

StringClass FormatString(const char* format, ...) {
    StringClass result;
    va_list args;
    va_start(args, format);
    result.FormatArgs(format, args);
    va_end(args);
    return result;
}

char* TrimWhitespace(char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    // Bytes 1..32 only: as signed characters, bytes 0x80-0xFF are negative and
    // belong to the text.
    const auto isTrimmed = [](char character) {
        const auto byte = static_cast<unsigned char>(character);
        return byte >= 1 && byte <= 32;
    };
    size_t start = 0;
    while (isTrimmed(text[start])) {
        ++start;
    }
    size_t end = start + std::strlen(text + start);
    while (end > start && isTrimmed(text[end - 1])) {
        --end;
    }
    std::memmove(text, text + start, end - start);
    text[end - start] = 0;
    return text;
}

FormatBuffer::FormatBuffer(const char* format, ...) : Length(0), Heap(nullptr), Text(Inline) {
    Inline[0] = 0;
    if (format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int count = std::vsnprintf(Inline, sizeof(Inline), format, args);
    if (count < 0) {
        Inline[0] = 0;
    } else if (static_cast<size_t>(count) < sizeof(Inline)) {
        Length = count;
    } else if ((Heap = new (std::nothrow) char[static_cast<size_t>(count) + 1]) != nullptr) {
        std::vsnprintf(Heap, static_cast<size_t>(count) + 1, format, again);
        Text = Heap;
        Length = count;
    } else {
        // Without memory for the whole text the inline part is all there is.
        Length = static_cast<int>(std::strlen(Inline));
    }
    va_end(again);
    va_end(args);
}

FormatBuffer::~FormatBuffer() { delete[] Heap; }

bool EqualsIgnoringAsciiCase(const char* left, const char* right) {
    for (;; ++left, ++right) {
        if (AsciiLower(*left) != AsciiLower(*right)) {
            return false;
        }
        if (*left == 0) {
            return true;
        }
    }
}
