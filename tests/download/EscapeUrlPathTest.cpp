#include <gtest/gtest.h>

#include <string>

#include "download/EscapeUrlPath.h"

namespace {

struct EscapeCase {
    const char* path;
    const char* escaped;
};

TEST(DownloadEscapeUrlPathTest, KeepsLettersDigitsAndPathPunctuationAndEncodesEveryOtherByte) {
    const EscapeCase cases[] = {
        {"", ""},
        {"files/0A1B2C3D.readme.txt", "files/0A1B2C3D.readme.txt"},
        {"files\\a_b.c", "files\\a_b.c"},
        {"my map.txt", "my%20map.txt"},
        {"a-b", "a%2Db"},
        {"100%", "100%25"},
        {"?#&=+~:", "%3F%23%26%3D%2B%7E%3A"},
        {"\x7F", "%7F"},
        {"\x01", "%01"},
    };
    for (const EscapeCase& test : cases) {
        SCOPED_TRACE(test.path);
        EXPECT_STREQ(EscapeUrlPath(test.path).Peek(), test.escaped);
    }
}

TEST(DownloadEscapeUrlPathTest, BytesAboveAsciiAreEncodedAsUnsignedUpperCaseHex) {
    EXPECT_STREQ(EscapeUrlPath("caf\xC3\xA9").Peek(), "caf%C3%A9");
    EXPECT_STREQ(EscapeUrlPath("\x80\xFF").Peek(), "%80%FF");
}

TEST(DownloadEscapeUrlPathTest, PathOfOnlyEncodedBytesGrowsThreefold) {
    const std::string path(300, ' ');
    const StringClass escaped = EscapeUrlPath(path.c_str());
    ASSERT_EQ(escaped.GetLength(), 900);
    EXPECT_EQ(std::string(escaped.Peek(), 6), "%20%20");
}

TEST(DownloadEscapeUrlPathTest, RepositoryUrlEncodesOnlyWhatMayNotStandInAUrl) {
    const EscapeCase cases[] = {
        {"http://127.0.0.1:8000/game", "http://127.0.0.1:8000/game"},
        {"http://host/my repo/", "http://host/my%20repo/"},
        {"http://host/my%20repo?a=b&c=d#e~f-g", "http://host/my%20repo?a=b&c=d#e~f-g"},
        {"\\\"<>^`{|}", "%5C%22%3C%3E%5E%60%7B%7C%7D"},
        {"\x01\x1F\x7F\x80\xFF", "%01%1F%7F%80%FF"},
    };
    for (const EscapeCase& test : cases) {
        SCOPED_TRACE(test.path);
        EXPECT_STREQ(EscapeUrlBase(test.path).Peek(), test.escaped);
    }
}

}  // namespace
