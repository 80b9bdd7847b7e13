#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace testsupport {

// A path as the program spells it in a message.
inline std::string NativeSpelling(std::string path) {
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

// A failure message followed by the one line that names the store call that
// failed, on which path, and the system's reason: "Could not <call> '<path>':
// <reason>.". The reason is the system's own words, so only its presence is
// checked.
inline void ExpectStoreCause(const std::string& err, const std::string& message, const std::string& call,
                             const std::string& path) {
    ASSERT_EQ(err.substr(0, message.size()), message) << err;
    const std::string cause = err.substr(message.size());
    const std::string start = "Could not " + call + " '" + NativeSpelling(path) + "': ";
    EXPECT_EQ(cause.substr(0, start.size()), start) << cause;
    ASSERT_GT(cause.size(), start.size() + 3) << cause;
    EXPECT_EQ(cause.find("\r\n"), cause.size() - 2) << cause;
    EXPECT_EQ(cause.substr(cause.size() - 3), ".\r\n") << cause;
}

}  // namespace testsupport
