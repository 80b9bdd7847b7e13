#include <gtest/gtest.h>

#include <string>

#include "StringFile.h"
#include "file/ChunkWriter.h"
#include "foundation/StringClass.h"

namespace {

constexpr uint32_t Data = 0x44415441;  // "DATA"

TEST(ChunkWriterTest, ChunkWithPayloadHasLittleEndianHeader) {
    StringFile file;
    ChunkWriter writer(&file);
    EXPECT_TRUE(writer.BeginChunk(Data));
    EXPECT_EQ(writer.Write("\x01\x02\x03\x04", 4), 4);
    EXPECT_TRUE(writer.EndChunk());
    EXPECT_EQ(file.Contents(), std::string("\x41\x54\x41\x44\x04\x00\x00\x00\x01\x02\x03\x04", 12));
    EXPECT_EQ(file.Tell(), 12);
}

TEST(ChunkWriterTest, ParentCountsChildHeadersAndMarksSubChunks) {
    StringFile file;
    ChunkWriter writer(&file);
    writer.BeginChunk('P');
    writer.BeginChunk('A');
    writer.Write("abcd", 4);
    writer.EndChunk();
    writer.EndChunk();
    EXPECT_EQ(file.Contents(), std::string("P\0\0\0\x0C\0\0\x80"
                                           "A\0\0\0\x04\0\0\0abcd",
                                           20));
}

TEST(ChunkWriterTest, ParentAddsItsOwnPayloadToItsChildren) {
    StringFile file;
    ChunkWriter writer(&file);
    writer.BeginChunk('P');
    writer.Write("xy", 2);
    writer.BeginChunk('A');
    writer.EndChunk();
    writer.BeginChunk('B');
    writer.Write("z", 1);
    writer.EndChunk();
    writer.EndChunk();
    const std::string bytes = file.Contents();
    EXPECT_EQ(bytes.substr(4, 4), std::string("\x13\0\0\x80", 4));  // 2 + 8 + 9 payload bytes
    EXPECT_EQ(bytes.size(), 27u);
}

TEST(ChunkWriterTest, WriteStringWritesLengthAndBytesWithoutTerminator) {
    StringFile file;
    ChunkWriter writer(&file);
    writer.BeginChunk(Data);
    EXPECT_EQ(writer.WriteString(StringClass("ab")), 4);
    EXPECT_EQ(writer.WriteString(StringClass("")), 2);
    writer.EndChunk();
    EXPECT_EQ(file.Contents(), std::string("ATAD\x06\0\0\0\x02\0ab\0\0", 14));
}

TEST(ChunkWriterTest, TextLongerThanItsLengthFieldIsRefusedWhole) {
    StringFile file;
    ChunkWriter writer(&file);
    writer.BeginChunk(Data);
    EXPECT_EQ(writer.WriteString(StringClass(std::string(0xFFFF, 'v').c_str())), 2 + 0xFFFF);
    EXPECT_EQ(writer.WriteString(StringClass(std::string(0x10001, 'w').c_str())), 0);
    writer.EndChunk();
    EXPECT_EQ(file.Contents().substr(0, 10), std::string("ATAD\x01\0\x01\0\xFF\xFF", 10));
    EXPECT_EQ(file.Size(), 8 + 2 + 0xFFFF);
}

// BeginChunk seeks once; EndChunk asks for its position, goes back to the
// header and returns. A failure of either move must not pass for success.
TEST(ChunkWriterTest, EndFailsWhenASeekFails) {
    for (const int seeksBeforeFailure : {1, 2, 3}) {
        SCOPED_TRACE(seeksBeforeFailure);
        StringFile file;
        file.SeeksBeforeFailure = seeksBeforeFailure;
        ChunkWriter writer(&file);
        writer.BeginChunk(Data);
        writer.Write("abcd", 4);
        EXPECT_FALSE(writer.EndChunk());
        if (seeksBeforeFailure < 3) {
            EXPECT_EQ(file.Contents(), std::string("ATAD\0\0\0\0abcd", 12));
        }
    }
}

TEST(ChunkWriterTest, EndWithoutBeginAndNestingPastTheLimitFail) {
    StringFile file;
    ChunkWriter writer(&file);
    EXPECT_FALSE(writer.EndChunk());
    for (int level = 0; level < ChunkWriter::MaxDepth; ++level) {
        ASSERT_TRUE(writer.BeginChunk(Data));
    }
    EXPECT_FALSE(writer.BeginChunk(Data));
    for (int level = 0; level < ChunkWriter::MaxDepth; ++level) {
        ASSERT_TRUE(writer.EndChunk());
    }
    EXPECT_FALSE(writer.EndChunk());
    EXPECT_EQ(file.Size(), 8 * ChunkWriter::MaxDepth);
}

TEST(ChunkWriterTest, PayloadWrittenAtTopLevelIsPassedThrough) {
    StringFile file;
    ChunkWriter writer(&file);
    EXPECT_EQ(writer.Write("raw", 3), 3);
    EXPECT_EQ(writer.Write("raw", -3), 0);
    EXPECT_EQ(file.Contents(), "raw");
}

}  // namespace
