// A store path made from names that a package-info file carries, escaped for
// a URL. The result must name exactly the bytes of the path.
#include <cstring>
#include <string>

#include "FuzzTargets.h"
#include "download/EscapeUrlPath.h"

namespace {

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

// The bytes an escaped text stands for; false when it is not one that the
// escaping can produce.
bool Unescape(const char* escaped, std::string& bytes) {
    for (const char* at = escaped; *at != 0; ++at) {
        if (*at != '%') {
            bytes += *at;
            continue;
        }
        const int high = HexValue(at[1]);
        const int low = high < 0 ? -1 : HexValue(at[2]);
        if (low < 0) {
            return false;
        }
        bytes += static_cast<char>(high * 16 + low);
        at += 2;
    }
    return true;
}

}  // namespace

int FuzzEscapeUrlPath(const uint8_t* data, size_t size) {
    if (size > FuzzMaxInputSize) {
        return 0;
    }
    const std::string path(reinterpret_cast<const char*>(data), size);
    const StringClass escaped = EscapeUrlPath(path.c_str());
    FUZZ_CHECK(escaped.GetLength() <= 3 * static_cast<int>(std::strlen(path.c_str())));
    for (const char* at = escaped; *at != 0; ++at) {
        const unsigned char byte = static_cast<unsigned char>(*at);
        FUZZ_CHECK(byte > 0x20 && byte < 0x7F && byte != '?' && byte != '#' && byte != ' ');
    }
    std::string bytes;
    FUZZ_CHECK(Unescape(escaped, bytes));
    FUZZ_CHECK(bytes == path.c_str());
    return 0;
}
