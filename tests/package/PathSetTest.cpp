#include <gtest/gtest.h>

#include <string>

#include "package/PathSet.h"

namespace {

std::string ContentPath(int number) { return "files/" + std::to_string(number) + ".dat"; }

// The set grows several times past its first table while the uninstall sweep
// fills it; a path lost on the way would have its file deleted while in use.
TEST(PathSetTest, KeepsEveryPathThroughGrowth) {
    constexpr int PathCount = 5000;
    PathSet set;
    EXPECT_FALSE(set.Contains(ContentPath(0).c_str()));
    for (int number = 0; number < PathCount; ++number) {
        ASSERT_TRUE(set.Insert(ContentPath(number).c_str()));
        ASSERT_TRUE(set.Insert(ContentPath(number / 2).c_str()));
    }
    int missing = 0;
    int strays = 0;
    for (int number = 0; number < PathCount; ++number) {
        missing += set.Contains(ContentPath(number).c_str()) ? 0 : 1;
        strays += set.Contains(ContentPath(PathCount + number).c_str()) ? 1 : 0;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(strays, 0);
}

}  // namespace
