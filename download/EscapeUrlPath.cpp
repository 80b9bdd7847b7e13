#include "download/EscapeUrlPath.h"

#include <climits>
#include <cstring>

namespace {

bool IsKeptUnescaped(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           byte == '/' || byte == '\\' || byte == '.' || byte == '_';
}

}  // namespace

StringClass EscapeUrlPath(const char* path) {
    StringClass result;
    const size_t length = path != nullptr ? std::strlen(path) : 0;
    if (length == 0 || length > (INT_MAX - 1) / 3) {
        return result;
    }
    static const char hexDigits[] = "0123456789ABCDEF";
    char* out = result.GetBuffer(static_cast<int>(length * 3 + 1));
    if (out == nullptr) {
        return result;
    }
    for (size_t index = 0; index < length; ++index) {
        const unsigned char byte = static_cast<unsigned char>(path[index]);
        if (IsKeptUnescaped(byte)) {
            *out++ = static_cast<char>(byte);
        } else {
            *out++ = '%';
            *out++ = hexDigits[byte >> 4];
            *out++ = hexDigits[byte & 0x0F];
        }
    }
    *out = 0;
    return result;
}
