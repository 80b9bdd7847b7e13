#include "platform/HttpClient.h"

#include <cstring>

namespace platform {

namespace {

// A decimal number of 32 bits at `text`; its end in *end.
bool ReadNumber(const char* text, const char** end, uint32_t* value) {
    if (*text < '0' || *text > '9') {
        return false;
    }
    uint64_t number = 0;
    while (*text >= '0' && *text <= '9') {
        number = number * 10 + static_cast<uint64_t>(*text - '0');
        if (number > UINT32_MAX) {
            return false;
        }
        ++text;
    }
    *end = text;
    *value = static_cast<uint32_t>(number);
    return true;
}

const char* SkipSpaces(const char* text) {
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    return text;
}

}  // namespace

bool ParseHttpContentRange(const char* text, HttpContentRange* range) {
    text = SkipSpaces(text);
    if (std::strncmp(text, "bytes", 5) != 0) {
        return false;
    }
    text = SkipSpaces(text + 5);
    HttpContentRange parsed;
    uint32_t last = 0;
    if (!ReadNumber(text, &text, &parsed.first) || *text != '-' || !ReadNumber(text + 1, &text, &last) ||
        *text != '/' || last < parsed.first) {
        return false;
    }
    ++text;
    if (*text == '*') {
        ++text;
    } else {
        if (!ReadNumber(text, &text, &parsed.total) || last >= parsed.total) {
            return false;
        }
        parsed.totalKnown = true;
    }
    text = SkipSpaces(text);
    if (*text != 0 && *text != '\r' && *text != '\n') {
        return false;
    }
    *range = parsed;
    return true;
}

}  // namespace platform
