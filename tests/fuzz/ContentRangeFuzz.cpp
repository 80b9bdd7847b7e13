// A Content-Range header value as a server sends it. What the reader takes
// must be a range of bytes that lies inside the whole file it names, and the
// same value written out plainly must read back the same.
#include <cstdio>
#include <string>

#include "FuzzTargets.h"
#include "platform/HttpClient.h"

int FuzzContentRange(const uint8_t* data, size_t size) {
    if (size > 4096) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    platform::HttpContentRange range;
    if (!platform::ParseHttpContentRange(text.c_str(), &range)) {
        return 0;
    }
    FUZZ_CHECK(!range.totalKnown || range.first < range.total);
    char plain[64];
    if (range.totalKnown) {
        std::snprintf(plain, sizeof plain, "bytes %u-%u/%u", range.first, range.total - 1, range.total);
    } else {
        std::snprintf(plain, sizeof plain, "bytes %u-%u/*", range.first, range.first);
    }
    platform::HttpContentRange again;
    FUZZ_CHECK(platform::ParseHttpContentRange(plain, &again));
    FUZZ_CHECK(again.first == range.first && again.totalKnown == range.totalKnown && again.total == range.total);
    return 0;
}
