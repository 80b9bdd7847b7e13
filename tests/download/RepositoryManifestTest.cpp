#include "download/RepositoryManifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string Digest = "2c26b46b68ffc68ff99b453c1d30413413422d706483bfa0f98a5e886266e7ae";
const std::string Header = "# Quillbox manifest\n# Serial: 42\n# Expires: 2027-01-31T23:59:59Z\n";

bool Reads(const std::string& text, StringClass& problem) {
    RepositoryManifest manifest;
    return manifest.Read(text.data(), text.size(), problem);
}

TEST(RepositoryManifestTest, ReadsTheHeaderAndEveryFileAsSha256sumPrintsIt) {
    const std::string text = Header + Digest + "  packages/71bbe511.kpi\n# a comment\n" + std::string(64, 'f') +
                             "  files/B11DE6A1.maps field.map\n";
    RepositoryManifest manifest;
    StringClass problem;
    ASSERT_TRUE(manifest.Read(text.data(), text.size(), problem)) << problem.Peek();
    EXPECT_EQ(manifest.GetSerial(), 42);
    EXPECT_EQ(manifest.GetExpires(), 1801439999);  // date -u -d 2027-01-31T23:59:59Z +%s
    EXPECT_EQ(manifest.GetFileCount(), 2u);
    ASSERT_NE(manifest.Find("packages/71bbe511.kpi"), nullptr);
    EXPECT_EQ(DigestText(*manifest.Find("packages/71bbe511.kpi")), Digest);
    ASSERT_NE(manifest.Find("files/B11DE6A1.maps field.map"), nullptr);
    EXPECT_EQ(manifest.Find("files/b11de6a1.maps field.map"), nullptr);
}

TEST(RepositoryManifestTest, RefusesEverythingElse) {
    const std::string entry = Digest + "  files/a\n";
    const std::string cases[] = {
        "",
        Header.substr(0, Header.size() - 1),
        "# quillbox manifest\n# Serial: 42\n# Expires: 2027-01-31T23:59:59Z\n",
        "# Quillbox manifest\n# Expires: 2027-01-31T23:59:59Z\n# Serial: 42\n",
        "# Quillbox manifest\n# Serial: 0\n# Expires: 2027-01-31T23:59:59Z\n",
        "# Quillbox manifest\n# Serial: 042\n# Expires: 2027-01-31T23:59:59Z\n",
        "# Quillbox manifest\n# Serial: 9223372036854775808\n# Expires: 2027-01-31T23:59:59Z\n",
        "# Quillbox manifest\n# Serial: -1\n# Expires: 2027-01-31T23:59:59Z\n",
        "# Quillbox manifest\n# Serial: 42\n# Expires: 2027-02-29T00:00:00Z\n",
        "# Quillbox manifest\n# Serial: 42\n# Expires: 2027-01-31 23:59:59Z\n",
        "# Quillbox manifest\n# Serial: 42\n# Expires: 2027-01-31T24:00:00Z\n",
        "# Quillbox manifest\r\n# Serial: 42\n# Expires: 2027-01-31T23:59:59Z\n",
        Header + Digest + " files/a\n",
        Header + Digest.substr(1) + "  files/a\n",
        Header + "2C26" + Digest.substr(4) + "  files/a\n",
        Header + Digest + "  files/a\r\n",
        Header + Digest + "  \n",
        Header + Digest + "  /etc/passwd\n",
        Header + Digest + "  files/../../x\n",
        Header + "\n" + entry,
        Header + entry + entry,
        Header + entry.substr(0, entry.size() - 1),
    };
    for (const std::string& text : cases) {
        StringClass problem;
        EXPECT_FALSE(Reads(text, problem)) << text;
        EXPECT_FALSE(problem.IsEmpty()) << text;
    }
    StringClass problem;
    EXPECT_TRUE(Reads(Header, problem)) << problem.Peek();
    EXPECT_TRUE(Reads("# Quillbox manifest\n# Serial: 9223372036854775807\n# Expires: 2000-02-29T00:00:00Z\n", problem))
        << problem.Peek();
}

// The date a refusal names is formatted without the C runtime, whose range
// ends in 2038 or 3000 on some systems; it gives back what was read.
TEST(RepositoryManifestTest, UtcTimesFormatAsTheyParse) {
    for (const char* text : {"1970-01-01T00:00:00Z", "2000-02-29T23:59:59Z", "2038-01-19T03:14:08Z",
                             "2999-12-31T12:00:00Z", "9999-12-31T23:59:59Z"}) {
        int64_t seconds = 0;
        ASSERT_TRUE(ParseUtcTime(text, seconds)) << text;
        EXPECT_EQ(FormatUtcTime(seconds), text);
    }
}

}  // namespace
