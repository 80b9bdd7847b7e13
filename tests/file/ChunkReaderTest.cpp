#include <gtest/gtest.h>

#include <string>

#include "StringFile.h"
#include "file/ChunkReader.h"
#include "file/ChunkWriter.h"
#include "foundation/StringClass.h"

namespace {

constexpr uint32_t Data = 0x44415441;  // "DATA"

std::string Header(uint32_t id, uint32_t size) {
    std::string bytes;
    for (uint32_t word : {id, size}) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes += static_cast<char>(word >> shift);
        }
    }
    return bytes;
}

TEST(ChunkReaderTest, ReadsAChunkAndItsPayload) {
    StringFile file(std::string("\x41\x54\x41\x44\x04\x00\x00\x00\x01\x02\x03\x04", 12));
    ChunkReader reader(&file);
    ASSERT_TRUE(reader.OpenChunk());
    EXPECT_EQ(reader.CurrentChunkId(), Data);
    EXPECT_EQ(reader.CurrentChunkLength(), 4u);
    char payload[4];
    EXPECT_EQ(reader.Read(payload, 4), 4);
    EXPECT_EQ(std::string(payload, 4), "\x01\x02\x03\x04");
    EXPECT_TRUE(reader.CloseChunk());
    EXPECT_FALSE(reader.OpenChunk());
}

TEST(ChunkReaderTest, ReadThatWouldCrossTheChunkEndReadsNothingAndCloseSkips) {
    StringFile file(Header(Data, 4) + "abcd" + Header('N', 1) + "z");
    ChunkReader reader(&file);
    ASSERT_TRUE(reader.OpenChunk());
    char buffer[8];
    EXPECT_EQ(reader.Read(buffer, 8), 0);
    EXPECT_EQ(file.Tell(), 8);
    EXPECT_TRUE(reader.CloseChunk());
    EXPECT_EQ(file.Tell(), 12);
    ASSERT_TRUE(reader.OpenChunk());
    EXPECT_EQ(reader.CurrentChunkId(), static_cast<uint32_t>('N'));
}

TEST(ChunkReaderTest, ContainerLoopVisitsEveryChildAndThenStopsWithoutTouchingTheFile) {
    StringFile written;
    ChunkWriter writer(&written);
    writer.BeginChunk('P');
    for (uint32_t child = 'A'; child <= 'C'; ++child) {
        writer.BeginChunk(child);
        writer.WriteString(StringClass("value"));
        writer.EndChunk();
    }
    writer.EndChunk();
    writer.BeginChunk('Q');
    writer.EndChunk();

    StringFile file(written.Contents());
    ChunkReader reader(&file);
    ASSERT_TRUE(reader.OpenChunk());
    std::string ids;
    while (reader.OpenChunk()) {
        ids += static_cast<char>(reader.CurrentChunkId());
        if (ids.size() == 2) {
            StringClass value;
            reader.ReadString(value);
            EXPECT_STREQ(value, "value");
        }
        reader.CloseChunk();
    }
    EXPECT_EQ(ids, "ABC");
    const int calls = file.Calls;
    EXPECT_FALSE(reader.OpenChunk());
    EXPECT_EQ(file.Calls, calls);
    EXPECT_TRUE(reader.CloseChunk());
    ASSERT_TRUE(reader.OpenChunk());
    EXPECT_EQ(reader.CurrentChunkId(), static_cast<uint32_t>('Q'));
}

TEST(ChunkReaderTest, ReadStringGivesEmptyTextWhenTheChunkLacksItsBytes) {
    struct Case {
        const char* name;
        std::string payload;
    };
    const Case cases[] = {
        {"length field cut off", std::string("\x05", 1)},
        {"text cut off", std::string("\x05\x00"
                                     "abc",
                                     5)},
        {"no payload", std::string()},
    };
    for (const Case& test : cases) {
        StringFile file(Header(Data, static_cast<uint32_t>(test.payload.size())) + test.payload + "trailing bytes");
        ChunkReader reader(&file);
        ASSERT_TRUE(reader.OpenChunk());
        StringClass text("old");
        reader.ReadString(text);
        EXPECT_STREQ(text, "") << test.name;
    }
}

TEST(ChunkReaderTest, ReadStringRoundTripsWhatWriteStringWrote) {
    StringFile file;
    ChunkWriter writer(&file);
    writer.BeginChunk(Data);
    writer.WriteString(StringClass("Maps by someone"));
    writer.WriteString(StringClass(""));
    writer.EndChunk();
    file.Seek(0, FileClass::FromStart);
    ChunkReader reader(&file);
    ASSERT_TRUE(reader.OpenChunk());
    StringClass first;
    StringClass second("x");
    reader.ReadString(first);
    reader.ReadString(second);
    EXPECT_STREQ(first, "Maps by someone");
    EXPECT_STREQ(second, "");
    StringClass third("x");
    reader.ReadString(third);
    EXPECT_STREQ(third, "");
}

TEST(ChunkReaderTest, SizeClaimingMoreThanTheFileHoldsEndsTheLoop) {
    StringFile file(Header(Data, 0x7FFFFFF0) + "short");
    ChunkReader reader(&file);
    ASSERT_TRUE(reader.OpenChunk());
    char buffer[16];
    EXPECT_EQ(reader.Read(buffer, 16), 5);  // what the file held
    StringClass text;
    reader.ReadString(text);
    EXPECT_EQ(text.GetLength(), 0);
    EXPECT_TRUE(reader.CloseChunk());
    EXPECT_FALSE(reader.OpenChunk());
}

TEST(ChunkReaderTest, ChildLargerThanItsParentDoesNotLeadPastTheParent) {
    StringFile file(Header('P', 0x80000000u | 12) + Header('A', 1000) + "abcd" + Header('Q', 0));
    ChunkReader reader(&file);
    ASSERT_TRUE(reader.OpenChunk());
    ASSERT_TRUE(reader.OpenChunk());
    EXPECT_EQ(reader.CurrentChunkLength(), 4u);  // cut to what the parent holds
    char buffer[8];
    EXPECT_EQ(reader.Read(buffer, 8), 0);
    EXPECT_TRUE(reader.CloseChunk());
    EXPECT_FALSE(reader.OpenChunk());
    EXPECT_TRUE(reader.CloseChunk());
    // The chunk after the parent is still found where it lies.
    ASSERT_TRUE(reader.OpenChunk());
    EXPECT_EQ(reader.CurrentChunkId(), static_cast<uint32_t>('Q'));
}

TEST(ChunkReaderTest, PartialChildHeaderInsideParentIsNotRead) {
    StringFile file(Header('P', 4) + "abcd" + Header('Q', 0));
    ChunkReader reader(&file);
    ASSERT_TRUE(reader.OpenChunk());
    EXPECT_FALSE(reader.OpenChunk());
    EXPECT_EQ(file.Tell(), 8);
}

TEST(ChunkReaderTest, NestingDeeperThanTheTablesIsRefused) {
    std::string bytes;
    for (int level = 0; level < 300; ++level) {
        bytes += Header(Data, 0x80000000u | static_cast<uint32_t>(8 * (299 - level)));
    }
    StringFile file(bytes);
    ChunkReader reader(&file);
    int depth = 0;
    while (reader.OpenChunk()) {
        ++depth;
    }
    EXPECT_EQ(depth, ChunkReader::MaxDepth);
    for (int level = 0; level < depth; ++level) {
        EXPECT_TRUE(reader.CloseChunk());
    }
    EXPECT_FALSE(reader.CloseChunk());
}

TEST(ChunkReaderTest, TopLevelAndTruncatedHeaderGiveFailureResults) {
    StringFile file(std::string("ATAD\x04", 5));
    ChunkReader reader(&file);
    char buffer[4];
    EXPECT_EQ(reader.Read(buffer, 4), 0);
    EXPECT_EQ(reader.CurrentChunkId(), 0u);
    EXPECT_EQ(reader.CurrentChunkLength(), 0u);
    EXPECT_FALSE(reader.CloseChunk());
    EXPECT_FALSE(reader.OpenChunk());
}

TEST(ChunkReaderTest, NegativeCountReadsNothing) {
    StringFile file(Header(Data, 4) + "abcd");
    ChunkReader reader(&file);
    ASSERT_TRUE(reader.OpenChunk());
    char buffer[4];
    EXPECT_EQ(reader.Read(buffer, -1), 0);
    EXPECT_EQ(reader.Read(buffer, 4), 4);
}

}  // namespace
