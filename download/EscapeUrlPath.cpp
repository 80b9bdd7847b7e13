#include "download/EscapeUrlPath.h"

#include <climits>
#include <cstring>
#include <string>

namespace {

bool IsKeptInPath(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           byte == '/' || byte == '\\' || byte == '.' || byte == '_';
}

bool IsKeptInBase(unsigned char byte) {
    return byte > 0x20 && byte < 0x7F && std::strchr("\"<>\\^`{|}", byte) == nullptr;
}

StringClass Escape(const char* text, bool (*isKept)(unsigned char)) {
    StringClass result;
    const size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length == 0 || length > (INT_MAX - 1) / 3) {
        return result;
    }
    static const char hexDigits[] = "0123456789ABCDEF";
    char* out = result.GetBuffer(static_cast<int>(length * 3 + 1));
    if (out == nullptr) {
        return result;
    }
    for (size_t index = 0; index < length; ++index) {
        const unsigned char byte = static_cast<unsigned char>(text[index]);
        if (isKept(byte)) {
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

}  // namespace

StringClass EscapeUrlPath(const char* path) { return Escape(path, IsKeptInPath); }

StringClass EscapeUrlBase(const char* url) { return Escape(url, IsKeptInBase); }

// The password runs from the first colon after the scheme to the last '@'
// before the path; a colon after that '@' is the port's.
StringClass WithoutPassword(const char* url) {
    const std::string text = url;
    const size_t scheme = text.find("://");
    if (scheme == std::string::npos) {
        return StringClass(url);
    }
    const size_t start = scheme + 3;
    const size_t authorityEnd = text.find_first_of("/?#", start);
    const size_t at = text.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd - 1);
    const size_t colon = text.find(':', start);
    if (at == std::string::npos || at < start || colon == std::string::npos || colon > at) {
        return StringClass(url);
    }
    return StringClass((text.substr(0, colon + 1) + "***" + text.substr(at)).c_str());
}
