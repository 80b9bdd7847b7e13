#include "foundation/Crc32.h"
#include "foundation/HashName.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(HashNameTest, KnownNamesGiveTheirHashes) {
    const struct {
        const char* name;
        uint32_t hash;
    } cases[] = {
        {"", 0x00000000u},    {"abc", 0xA3830348u},       {"ABC", 0xA3830348u},
        {"aBc", 0xA3830348u}, {"123456789", 0xCBF43926u}, {"THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG", 0x4C32B6B9u},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(HashName(test.name), test.hash) << test.name;
    }
    EXPECT_EQ(HashName(nullptr), 0u);
}

// Only ASCII letters fold: accented Latin-1 letters in upper and lower case
// stay different, and so do the brackets that sit next to the letters.
TEST(HashNameTest, UpperCasesOnlyAsciiLetters) {
    EXPECT_NE(HashName("\xE9"), HashName("\xC9"));
    EXPECT_NE(HashName("{"), HashName("["));
    EXPECT_EQ(HashName("\xE9"), Crc32::Bytewise("\xE9", 1));
}

TEST(HashNameTest, LongNamesHashLikeTheirUpperCasedBytes) {
    std::string name;
    for (int length = 0; length < 300; ++length) {
        const std::string upper = [&] {
            std::string result = name;
            for (char& character : result) {
                if (character >= 'a' && character <= 'z') {
                    character = static_cast<char>(character - 'a' + 'A');
                }
            }
            return result;
        }();
        ASSERT_EQ(HashName(name.c_str()), Crc32::Bytewise(upper.data(), upper.size())) << length;
        name += static_cast<char>("abcXYZ/._-\x80\xFF"[length % 12]);
    }
}

TEST(Crc32Test, KnownVectors) {
    const struct {
        std::string bytes;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000u},
        {"123456789", 0xCBF43926u},
        {"ABC", 0xA3830348u},
        {"abc", 0x352441C2u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string(32, '\0'), 0x190A55ADu},
        {std::string(32, '\xFF'), 0xFF6CAB0Bu},
    };
    for (const auto& test : cases) {
        Crc32 crc;
        crc.Update(test.bytes.data(), test.bytes.size());
        EXPECT_EQ(crc.Value(), test.crc) << test.bytes;
        EXPECT_EQ(Crc32::Bytewise(test.bytes.data(), test.bytes.size()), test.crc) << test.bytes;
    }
}

std::vector<unsigned char> PseudoRandomBytes(size_t count) {
    std::vector<unsigned char> bytes(count);
    uint32_t state = 0x12345678u;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

// The fast path works on sixteen bytes at a time, so every length and start
// alignment around that step must agree with the reference.
TEST(Crc32Test, MatchesTheBytewiseReferenceForEveryLengthAndAlignment) {
    const std::vector<unsigned char> data = PseudoRandomBytes(600);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length = 0; length + offset <= 520; ++length) {
            Crc32 crc;
            crc.Update(data.data() + offset, length);
            ASSERT_EQ(crc.Value(), Crc32::Bytewise(data.data() + offset, length))
                << "offset " << offset << " length " << length;
        }
    }
}

TEST(Crc32Test, PiecesGiveTheSameResultAsOneUpdate) {
    const std::vector<unsigned char> data = PseudoRandomBytes(100000);
    const uint32_t whole = Crc32::Bytewise(data.data(), data.size());
    for (size_t piece : {1u, 3u, 7u, 8u, 13u, 4096u, 32768u, 99999u}) {
        Crc32 crc;
        for (size_t start = 0; start < data.size(); start += piece) {
            crc.Update(data.data() + start, std::min(piece, data.size() - start));
        }
        EXPECT_EQ(crc.Value(), whole) << piece;
    }
}

}  // namespace
