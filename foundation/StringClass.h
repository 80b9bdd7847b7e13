#pragma once

#include <cstdarg>
#include <cstdint>

// A zero-terminated 8-bit string. Every non-empty buffer is preceded by an
// 8-byte header (capacity, cached length); the pointer points past it. Strings
// that hold nothing point at one shared static empty string. Short-lived
// strings may borrow one of eight 248-character buffers from a per-thread pool;
// such a string must be released on the thread that obtained it.
class StringClass {
public:
    StringClass();
    StringClass(const char* text);
    StringClass(const StringClass& other, bool temporary = false);
    StringClass(StringClass&& other) noexcept;
    ~StringClass();

    StringClass& operator=(const char* text);
    StringClass& operator=(const StringClass& other);
    StringClass& operator=(StringClass&& other) noexcept;
    StringClass& operator+=(const char* text);
    StringClass& operator+=(const StringClass& other);
    StringClass& operator+=(char character);
    StringClass operator+(const char* text) const;

    bool operator==(const StringClass& other) const;
    bool operator==(const char* text) const;

    operator const char*() const { return Text; }
    const char* Peek() const { return Text; }

    int GetLength() const;
    int GetCapacity() const;
    bool IsEmpty() const { return Text[0] == 0; }

    // printf-style formatting; the whole output is kept, however long.
    int Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int FormatArgs(const char* format, va_list args);

    // Replaces the contents with an empty buffer of at least `capacity` bytes
    // (terminator included) for the caller to fill; the length is recounted
    // on the next GetLength.
    char* GetBuffer(int capacity);

    // Gives the buffer back (to the pool or the heap); the string is empty.
    void Release();

    // True while the buffer is a slot of the calling thread's pool.
    bool IsPooled() const;

private:
    char* Text;
};

// A new string formatted like StringClass::Format.
StringClass FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The byte with an ASCII capital letter made small; every other byte as it is
// (names are in the game's single-byte set).
inline char AsciiLower(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

// True when both texts are equal once ASCII letters are taken without regard
// to case; other bytes must match exactly.
bool EqualsIgnoringAsciiCase(const char* left, const char* right);

// Removes bytes 1..32 from both ends of a writable text, in place; returns it.
char* TrimWhitespace(char* text);

// Formats into an inline buffer of 260 bytes, or into a heap buffer holding
// the whole text when the output is longer than 259 characters.
class FormatBuffer {
public:
    explicit FormatBuffer(const char* format, ...) __attribute__((format(printf, 2, 3)));
    ~FormatBuffer();
    FormatBuffer(const FormatBuffer&) = delete;
    FormatBuffer& operator=(const FormatBuffer&) = delete;

    const char* GetText() const { return Text; }
    int GetLength() const { return Length; }
    bool IsInline() const { return Heap == nullptr; }

private:
    char Inline[260];
    int Length;
    char* Heap;
    char* Text;
};
