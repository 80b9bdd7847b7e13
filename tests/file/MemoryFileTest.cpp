#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "file/MemoryFile.h"

namespace {

std::string ReadAll(MemoryFile& file, int count) {
    std::string bytes(static_cast<size_t>(count), '\0');
    bytes.resize(static_cast<size_t>(file.Read(bytes.data(), count)));
    return bytes;
}

TEST(MemoryFileTest, NewFileIsEmptyAndOpen) {
    MemoryFile file;
    char buffer[4];
    EXPECT_EQ(file.Size(), 0);
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_EQ(file.Read(buffer, 4), 0);
    EXPECT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.IsAvailable());
    EXPECT_FALSE(file.HasWindow());
    EXPECT_EQ(file.GetFileHandle(), -1);
    EXPECT_EQ(file.GetDateTime(), 0u);
    EXPECT_FALSE(file.SetDateTime(1));
}

TEST(MemoryFileTest, BufferDoublesPastTheNewEnd) {
    MemoryFile file;
    EXPECT_EQ(file.Write("0123456789", 10), 10);
    EXPECT_EQ(file.GetCapacity(), 20);
    EXPECT_EQ(file.Size(), 10);
    EXPECT_EQ(file.Tell(), 10);
    EXPECT_EQ(file.Write("abcde", 5), 5);
    EXPECT_EQ(file.GetCapacity(), 20);
    EXPECT_EQ(file.Size(), 15);
    EXPECT_EQ(file.Write("ABCDEFGHIJ", 10), 10);
    EXPECT_EQ(file.GetCapacity(), 50);
    EXPECT_EQ(file.Size(), 25);
    file.Seek(0, FileClass::FromStart);
    EXPECT_EQ(ReadAll(file, 100), "0123456789abcdeABCDEFGHIJ");
}

TEST(MemoryFileTest, SeekIsClampedToTheContents) {
    MemoryFile file;
    file.Write("0123456789abcde", 15);
    struct Case {
        int offset;
        int origin;
        int expected;
    };
    for (const Case& test : {Case{-5, 0, 0}, Case{5, 2, 15}, Case{-5, 2, 10}, Case{3, 1, 13}, Case{-100, 1, 0},
                             Case{INT_MAX, 1, 15}, Case{INT_MIN, 2, 0}, Case{7, 0, 7}}) {
        EXPECT_EQ(file.Seek(test.offset, test.origin), test.expected) << test.offset << "," << test.origin;
        EXPECT_EQ(file.Tell(), test.expected);
    }
}

TEST(MemoryFileTest, ReadStopsAtTheEnd) {
    MemoryFile file;
    file.Write("0123456789abcde", 15);
    file.Seek(0, FileClass::FromStart);
    EXPECT_EQ(ReadAll(file, 100), "0123456789abcde");
    EXPECT_EQ(ReadAll(file, 100), "");
}

TEST(MemoryFileTest, WriteInsideOverwritesAndGrowsOnlyPastTheEnd) {
    MemoryFile file;
    file.Write("0123456789abcde", 15);
    file.Seek(2, FileClass::FromStart);
    file.Write("XY", 2);
    EXPECT_EQ(file.Size(), 15);
    file.Seek(13, FileClass::FromStart);
    file.Write("PQRS", 4);
    EXPECT_EQ(file.Size(), 17);
    file.Seek(0, FileClass::FromStart);
    EXPECT_EQ(ReadAll(file, 100), "01XY456789abcPQRS");
}

TEST(MemoryFileTest, NegativeCountsTransferNothing) {
    MemoryFile file;
    file.Write("0123", 4);
    char buffer[4];
    EXPECT_EQ(file.Write(buffer, -1), 0);
    EXPECT_EQ(file.Write(buffer, INT_MIN), 0);
    EXPECT_EQ(file.Size(), 4);
    file.Seek(0, FileClass::FromStart);
    EXPECT_EQ(file.Read(buffer, -1), 0);
    EXPECT_EQ(file.Tell(), 0);
}

TEST(MemoryFileTest, WriteWhoseEndExceedsThirtyTwoBitsWritesNothing) {
    MemoryFile file;
    file.Write("0123", 4);
    EXPECT_EQ(file.Write("x", INT_MAX), 0);
    EXPECT_EQ(file.Size(), 4);
    EXPECT_EQ(file.GetCapacity(), 8);
}

TEST(MemoryFileDeathTest, UnsupportedOperationsStopTheProgram) {
    MemoryFile file;
    EXPECT_DEATH(file.GetFileName(), "MemoryFile::GetFileName is not supported");
    EXPECT_DEATH(file.Open(FileClass::ReadOnly), "not supported");
    EXPECT_DEATH(file.Close(), "not supported");
    EXPECT_DEATH(file.SetWindow(1, 2), "not supported");
}

}  // namespace
