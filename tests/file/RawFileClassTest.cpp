#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "file/RawFileClass.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Byte i of a pattern file is i modulo 251, so any offset can be recognised.
std::string PatternBytes(int size) {
    std::string bytes(static_cast<size_t>(size), '\0');
    for (int index = 0; index < size; ++index) {
        bytes[static_cast<size_t>(index)] = static_cast<char>(index % 251);
    }
    return bytes;
}

class RawFileClassTest : public ::testing::Test {
protected:
    void SetUp() override {
        Name = Folder / "pattern.bin";
        WriteFile(Name, PatternBytes(1000));
    }

    std::string ReadBytes(FileClass& file, int count) {
        std::string bytes(static_cast<size_t>(count), '\0');
        bytes.resize(static_cast<size_t>(std::max(file.Read(bytes.data(), count), 0)));
        return bytes;
    }

    TempDir Folder;
    std::string Name;
};

TEST_F(RawFileClassTest, ReadOnClosedFileOpensReadsAndClosesEachTime) {
    RawFileClass file(Name.c_str());
    EXPECT_EQ(ReadBytes(file, 4), PatternBytes(4));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadBytes(file, 4), PatternBytes(4));
    EXPECT_EQ(file.Size(), 1000);
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(RawFileClassTest, WriteOnClosedFileLeavesOnlyTheNewBytes) {
    RawFileClass file(Name.c_str());
    EXPECT_EQ(file.Write("abc", 3), 3);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadFile(Name), "abc");
}

TEST_F(RawFileClassTest, MissingFileGivesFailureResults) {
    RawFileClass file((Folder / "missing.bin").c_str());
    char buffer[4];
    EXPECT_FALSE(file.IsAvailable());
    EXPECT_EQ(file.Read(buffer, 4), 0);
    EXPECT_EQ(file.Size(), -1);
    EXPECT_EQ(file.Seek(0, FileClass::FromStart), -1);
    EXPECT_FALSE(file.Delete());
}

TEST_F(RawFileClassTest, OpenRightsZeroKeepsContentsAndTwoTruncates) {
    RawFileClass file(Name.c_str());
    ASSERT_TRUE(file.Open(FileClass::ReadWrite));
    EXPECT_EQ(file.Size(), 1000);
    file.Close();
    ASSERT_TRUE(file.Open(FileClass::WriteOnly));
    EXPECT_EQ(file.Size(), 0);
}

TEST_F(RawFileClassTest, OpenWithUnknownRightsFailsWithInvalidArgument) {
    for (int rights : {5, -1, 100}) {
        RawFileClass file(Name.c_str());
        platform::SetLastErrorNumber(0);
        EXPECT_EQ(file.Open(rights), 0) << rights;
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(platform::LastErrorNumber(), 22);
    }
}

TEST_F(RawFileClassTest, SeekReportsNewPositionAndRefusesToGoBeforeTheStart) {
    RawFileClass file(Name.c_str());
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(file.Seek(10, FileClass::FromStart), 10);
    EXPECT_EQ(file.Seek(5, FileClass::FromCurrent), 15);
    EXPECT_EQ(file.Seek(-1, FileClass::FromEnd), 999);
    EXPECT_EQ(file.Seek(-5, FileClass::FromStart), -1);
    EXPECT_EQ(file.Seek(-2000, FileClass::FromCurrent), -1);
    EXPECT_EQ(file.Tell(), 999);
    EXPECT_EQ(file.Seek(0, 7), -1);
}

TEST_F(RawFileClassTest, SeekOnClosedFileFails) {
    RawFileClass file(Name.c_str());
    EXPECT_EQ(file.Seek(0, FileClass::FromStart), -1);
}

TEST_F(RawFileClassTest, ReadAndWriteIgnoreNegativeCounts) {
    RawFileClass file(Name.c_str());
    ASSERT_TRUE(file.Open(FileClass::ReadWrite));
    char buffer[4] = {};
    EXPECT_EQ(file.Read(buffer, -1), 0);
    EXPECT_EQ(file.Read(buffer, INT_MIN), 0);
    EXPECT_EQ(file.Write(buffer, -1), 0);
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_EQ(file.Size(), 1000);
}

TEST_F(RawFileClassTest, HugeReadCountStopsAtTheEndOfTheFile) {
    RawFileClass file(Name.c_str());
    ASSERT_TRUE(file.Open());
    std::string buffer(1000, '\0');
    EXPECT_EQ(file.Read(buffer.data(), INT_MAX), 1000);
    EXPECT_EQ(buffer, PatternBytes(1000));
}

TEST_F(RawFileClassTest, WindowShowsOnlyItsBytes) {
    RawFileClass file(Name.c_str());
    file.SetWindow(100, 50);
    ASSERT_TRUE(file.Open(FileClass::ReadOnly));
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_EQ(file.Size(), 50);
    EXPECT_EQ(ReadBytes(file, 80), PatternBytes(150).substr(100));
    EXPECT_EQ(file.Seek(0, FileClass::FromEnd), 50);
    EXPECT_EQ(file.Seek(-10, FileClass::FromStart), 0);
    EXPECT_EQ(file.Seek(70, FileClass::FromStart), 50);
    EXPECT_EQ(file.Seek(-20, FileClass::FromCurrent), 30);
    EXPECT_EQ(ReadBytes(file, 5), PatternBytes(135).substr(130));
    EXPECT_EQ(ReadBytes(file, 100), PatternBytes(150).substr(135));
    EXPECT_EQ(file.Tell(), 50);
}

TEST_F(RawFileClassTest, NestedWindowMovesRelativeToTheOuterOne) {
    RawFileClass file(Name.c_str());
    file.SetWindow(100, 50);
    file.SetWindow(10, 20);
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(file.Size(), 20);
    EXPECT_EQ(ReadBytes(file, 100), PatternBytes(130).substr(110));
}

TEST_F(RawFileClassTest, WindowWithStartZeroOrANewNameIsRemoved) {
    RawFileClass file(Name.c_str());
    file.SetWindow(100, 50);
    file.SetWindow(0, 20);
    EXPECT_FALSE(file.HasWindow());
    EXPECT_EQ(file.Size(), 1000);
    file.SetWindow(100, 50);
    file.SetFileName(Name.c_str());
    EXPECT_FALSE(file.HasWindow());
}

// A window never reaches past what it was cut from, so a damaged member size
// cannot expose bytes beyond the file or the enclosing window.
TEST_F(RawFileClassTest, WindowIsCutToWhatRemainsAfterItsStart) {
    struct Case {
        int start;
        int length;
        int expectedSize;
    };
    for (const Case& test : {Case{900, 5000, 100}, Case{100, -1, 900}, Case{2000, 10, 0}, Case{INT_MAX, INT_MAX, 0},
                             Case{-5, 10, 10}, Case{10, -7, 0}}) {
        RawFileClass file(Name.c_str());
        file.SetWindow(test.start, test.length);
        ASSERT_TRUE(file.Open()) << test.start;
        EXPECT_EQ(file.Size(), test.expectedSize) << test.start << " " << test.length;
        std::string buffer(6000, '\0');
        EXPECT_EQ(file.Read(buffer.data(), 6000), test.expectedSize) << test.start << " " << test.length;
    }
    RawFileClass nested(Name.c_str());
    nested.SetWindow(100, 50);
    nested.SetWindow(40, -1);
    ASSERT_TRUE(nested.Open());
    EXPECT_EQ(ReadBytes(nested, 100), PatternBytes(150).substr(140));
}

TEST_F(RawFileClassTest, WindowGrowsWithWhatIsWrittenPastItsEnd) {
    RawFileClass file(Name.c_str());
    file.SetWindow(100, 50);
    ASSERT_TRUE(file.Open(FileClass::ReadWrite));
    EXPECT_EQ(file.Seek(40, FileClass::FromStart), 40);
    EXPECT_EQ(file.Write("0123456789abcdefghij", 20), 20);
    EXPECT_EQ(file.Size(), 60);
    EXPECT_EQ(file.Seek(0, FileClass::FromEnd), 60);
    file.Close();
    EXPECT_EQ(ReadFile(Name).substr(140, 20), "0123456789abcdefghij");
    EXPECT_EQ(ReadFile(Name).size(), 1000u);
}

TEST_F(RawFileClassTest, CreateAndDeleteWorkOnTheNamedFile) {
    const std::string name = Folder / "created.bin";
    RawFileClass file(name.c_str());
    EXPECT_TRUE(file.Create());
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(testsupport::Exists(name));
    EXPECT_TRUE(file.Delete());
    EXPECT_FALSE(testsupport::Exists(name));
    EXPECT_FALSE(file.Delete());
    RawFileClass unnamed;
    EXPECT_FALSE(unnamed.Delete());
    EXPECT_FALSE(unnamed.IsAvailable());
    EXPECT_FALSE(unnamed.Open());
}

TEST_F(RawFileClassTest, SetFileNameAcceptsItsOwnName) {
    RawFileClass file(Name.c_str());
    file.SetFileName(file.GetFileName());
    EXPECT_STREQ(file.GetFileName(), Name.c_str());
    file.SetFileName(nullptr);
    EXPECT_STREQ(file.GetFileName(), "");
}

TEST_F(RawFileClassTest, DateTimeNeedsAnOpenFileAndRoundTrips) {
    RawFileClass file(Name.c_str());
    EXPECT_EQ(file.GetDateTime(), 0u);
    EXPECT_FALSE(file.SetDateTime(0x50AF6DAFu));
    ASSERT_TRUE(file.Open(FileClass::ReadWrite));
    // 2020-05-15 13:45:30 local time.
    const uint32_t stamp = (((2020u - 1980u) << 9 | 5u << 5 | 15u) << 16) | (13u << 11 | 45u << 5 | 15u);
    EXPECT_TRUE(file.SetDateTime(stamp));
    EXPECT_EQ(file.GetDateTime(), stamp);
    EXPECT_FALSE(file.SetDateTime(0));  // month 0 is no date
    EXPECT_EQ(file.GetDateTime(), stamp);
}

// Positions are 32-bit, but a loop of reads must still get every byte of a
// file larger than 2 GiB. The file is sparse, and the loop starts just before
// the 2 GiB mark so that it crosses it without reading the gigabytes before.
TEST_F(RawFileClassTest, ReadLoopGetsEveryByteOfAFileLargerThanTwoGigabytes) {
    const std::string name = Folder / "large.bin";
    const uintmax_t size = (uintmax_t{1} << 31) + 4096 + 17;
    WriteFile(name, "");
    std::filesystem::resize_file(name, size);
    RawFileClass file(name.c_str());
    ASSERT_TRUE(file.Open());
    const int start = INT_MAX - 10;
    ASSERT_EQ(file.Seek(start, FileClass::FromStart), start);
    std::vector<char> buffer(1000);
    uintmax_t total = 0;
    for (int got; (got = file.Read(buffer.data(), static_cast<int>(buffer.size()))) > 0;) {
        total += static_cast<uintmax_t>(got);
    }
    EXPECT_EQ(total, size - static_cast<uintmax_t>(start));
}

}  // namespace
