#include <gtest/gtest.h>

#include "quillbox/DownloadProgress.h"

namespace {

struct ProgressCase {
    uint32_t received;
    uint32_t total;
    const char* line;
};

TEST(DownloadProgressTest, LineShowsPercentageOnlyOnceATotalIsKnownAndFormsItIn64Bits) {
    const ProgressCase cases[] = {
        {0, 0, "Progress: 0 / 0 bytes\r"},
        {512, 0, "Progress: 512 / 0 bytes\r"},
        {0, 1000, "Progress: 0 / 1000 bytes (0%)\r"},
        {999, 1000, "Progress: 999 / 1000 bytes (99%)\r"},
        {1000, 1000, "Progress: 1000 / 1000 bytes (100%)\r"},
        {50000000, 100000000, "Progress: 50000000 / 100000000 bytes (50%)\r"},
        {3000000000u, 4000000000u, "Progress: 3000000000 / 4000000000 bytes (75%)\r"},
        {4294967295u, 4294967295u, "Progress: 4294967295 / 4294967295 bytes (100%)\r"},
    };
    for (const ProgressCase& test : cases) {
        EXPECT_STREQ(FormatDownloadProgress(test.received, test.total).Peek(), test.line);
    }
}

}  // namespace
