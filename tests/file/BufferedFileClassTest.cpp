#include <gtest/gtest.h>

#include <string>

#include "file/BufferedFileClass.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string PatternBytes(int size) {
    std::string bytes(static_cast<size_t>(size), '\0');
    for (int index = 0; index < size; ++index) {
        bytes[static_cast<size_t>(index)] = static_cast<char>(index % 251);
    }
    return bytes;
}

class BufferedFileClassTest : public ::testing::Test {
protected:
    void SetUp() override {
        Name = Folder / "pattern.bin";
        WriteFile(Name, PatternBytes(FileSize));
        File.SetFileName(Name.c_str());
    }

    std::string ReadBytes(int count) {
        std::string bytes(static_cast<size_t>(count), '\0');
        bytes.resize(static_cast<size_t>(std::max(File.Read(bytes.data(), count), 0)));
        return bytes;
    }

    // Where the file itself stands, as opposed to the reader's position.
    int64_t DiskPosition() const { return platform::SeekFile(File.GetFileHandle(), 0, FileClass::FromCurrent); }

    static constexpr int FileSize = 40000;
    TempDir Folder;
    std::string Name;
    BufferedFileClass File;
};

TEST_F(BufferedFileClassTest, SmallReadsFetchWholeBlocksFromDisk) {
    ASSERT_TRUE(File.Open());
    std::string all;
    for (int piece = 0; piece < FileSize / 10; ++piece) {
        all += ReadBytes(10);
        if (piece == 0) {
            EXPECT_EQ(DiskPosition(), 16384);
        }
        if (piece == 1638) {  // byte 16390 needed the second block
            EXPECT_EQ(DiskPosition(), 32768);
        }
    }
    EXPECT_EQ(DiskPosition(), FileSize);
    EXPECT_EQ(all, PatternBytes(FileSize));
    EXPECT_EQ(File.Read(all.data(), 10), 0);
}

TEST_F(BufferedFileClassTest, LargeReadBypassesTheBuffer) {
    ASSERT_TRUE(File.Open());
    EXPECT_EQ(ReadBytes(20000), PatternBytes(20000));
    EXPECT_EQ(DiskPosition(), 20000);
    EXPECT_EQ(ReadBytes(10), PatternBytes(20010).substr(20000));
    EXPECT_EQ(DiskPosition(), 20000 + 16384);
}

TEST_F(BufferedFileClassTest, LargeReadAfterSmallOneContinuesWhereTheReaderStands) {
    ASSERT_TRUE(File.Open());
    EXPECT_EQ(ReadBytes(10), PatternBytes(10));
    EXPECT_EQ(ReadBytes(20000), PatternBytes(20010).substr(10));
    EXPECT_EQ(File.Tell(), 20010);
}

TEST_F(BufferedFileClassTest, ForwardSeekKeepsTheBufferAndOtherSeeksDropIt) {
    ASSERT_TRUE(File.Open());
    ReadBytes(10);
    EXPECT_EQ(File.Seek(5, FileClass::FromCurrent), 15);
    EXPECT_EQ(DiskPosition(), 16384);
    EXPECT_EQ(ReadBytes(10), PatternBytes(25).substr(15));
    EXPECT_EQ(File.Tell(), 25);
    EXPECT_EQ(File.Seek(0, FileClass::FromStart), 0);
    EXPECT_EQ(DiskPosition(), 0);
    EXPECT_EQ(ReadBytes(10), PatternBytes(10));
}

TEST_F(BufferedFileClassTest, ForwardSeekBeyondTheBufferLandsOnTheRightByte) {
    ASSERT_TRUE(File.Open());
    ReadBytes(10);
    EXPECT_EQ(File.Seek(20000, FileClass::FromCurrent), 20010);
    EXPECT_EQ(ReadBytes(10), PatternBytes(20020).substr(20010));
}

// The file stands a whole block ahead of the reader; a backward move must
// count from the reader's position.
TEST_F(BufferedFileClassTest, BackwardSeekFromCurrentCountsFromTheReader) {
    ASSERT_TRUE(File.Open());
    ReadBytes(100);
    EXPECT_EQ(File.Seek(-50, FileClass::FromCurrent), 50);
    EXPECT_EQ(ReadBytes(10), PatternBytes(60).substr(50));
    EXPECT_EQ(File.Seek(-100, FileClass::FromCurrent), -1);
}

TEST_F(BufferedFileClassTest, WriteAfterBufferedReadLandsAtTheReaderPosition) {
    ASSERT_TRUE(File.Open(FileClass::ReadWrite));
    ReadBytes(10);
    EXPECT_EQ(File.Write("XYZ", 3), 3);
    EXPECT_EQ(ReadBytes(2), PatternBytes(15).substr(13));
    File.Close();
    const std::string contents = ReadFile(Name);
    EXPECT_EQ(contents.size(), static_cast<size_t>(FileSize));
    EXPECT_EQ(contents.substr(8, 7), PatternBytes(10).substr(8) + "XYZ" + PatternBytes(15).substr(13));
}

TEST_F(BufferedFileClassTest, ReadOnClosedFileOpensAndClosesEachTime) {
    EXPECT_EQ(ReadBytes(10), PatternBytes(10));
    EXPECT_FALSE(File.IsOpen());
    EXPECT_EQ(ReadBytes(10), PatternBytes(10));
}

TEST_F(BufferedFileClassTest, WindowLimitsBufferedReads) {
    File.SetWindow(100, 50);
    ASSERT_TRUE(File.Open());
    std::string all;
    for (std::string piece; !(piece = ReadBytes(10)).empty();) {
        all += piece;
    }
    EXPECT_EQ(all, PatternBytes(150).substr(100));
    EXPECT_EQ(File.Tell(), 50);
}

TEST_F(BufferedFileClassTest, ReopenStartsWithAnEmptyBuffer) {
    ASSERT_TRUE(File.Open());
    ReadBytes(10);
    // A buffer kept from before would hand over bytes 10 to 14 next.
    ASSERT_TRUE(File.Open());
    EXPECT_EQ(ReadBytes(5), PatternBytes(5));
}

TEST_F(BufferedFileClassTest, NegativeCountReadsNothing) {
    ASSERT_TRUE(File.Open());
    char buffer[4];
    EXPECT_EQ(File.Read(buffer, -4), 0);
    EXPECT_EQ(File.Tell(), 0);
}

}  // namespace
