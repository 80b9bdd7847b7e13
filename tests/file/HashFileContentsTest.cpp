#include <gtest/gtest.h>

#include <string>

#include "file/HashFileContents.h"
#include "file/MemoryFile.h"
#include "file/RawFileClass.h"
#include "foundation/Crc32.h"
#include "support/TestSupport.h"

namespace {

TEST(HashFileContentsTest, KnownCheckValueAndEmptyFile) {
    MemoryFile file;
    EXPECT_EQ(HashFileContents(&file), 0u);
    file.Write("123456789", 9);
    file.Seek(0, FileClass::FromStart);
    EXPECT_EQ(HashFileContents(&file), 0xCBF43926u);
    EXPECT_EQ(HashFileContents(nullptr), 0u);
}

TEST(HashFileContentsTest, HashesFromTheCurrentPosition) {
    MemoryFile file;
    file.Write("xx123456789", 11);
    file.Seek(2, FileClass::FromStart);
    EXPECT_EQ(HashFileContents(&file), 0xCBF43926u);
    EXPECT_EQ(file.Tell(), 11);
}

// Larger than several scratch pieces and not a multiple of their size.
TEST(HashFileContentsTest, FileOnDiskSpanningManyPiecesMatchesTheReferenceCrc) {
    std::string bytes(3 * 16384 + 123, '\0');
    for (size_t index = 0; index < bytes.size(); ++index) {
        bytes[index] = static_cast<char>((index * 7919) >> 3);
    }
    testsupport::TempDir folder;
    const std::string name = folder / "content.bin";
    testsupport::WriteFile(name, bytes);
    RawFileClass file(name.c_str());
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(HashFileContents(&file), Crc32::Bytewise(bytes.data(), bytes.size()));
}

}  // namespace
