#include <gtest/gtest.h>

#include <string>

#include "foundation/Md5.h"

namespace {

std::string HexDigest(const std::string& message) {
    Md5 md5;
    md5.Update(message.data(), message.size());
    uint8_t digest[Md5::DigestSize];
    md5.Final(digest);
    char hex[2 * Md5::DigestSize + 1];
    Md5::ToHex(digest, hex);
    return hex;
}

struct DigestCase {
    std::string message;
    const char* hex;
};

class Md5DigestTest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(Md5DigestTest, GivesTheKnownDigest) { EXPECT_EQ(HexDigest(GetParam().message), GetParam().hex); }

// The test suite of RFC 1321, appendix A.5.
INSTANTIATE_TEST_SUITE_P(
    ReferenceSuite, Md5DigestTest,
    ::testing::Values(DigestCase{"", "d41d8cd98f00b204e9800998ecf8427e"},
                      DigestCase{"a", "0cc175b9c0f1b6a831c399e269772661"},
                      DigestCase{"abc", "900150983cd24fb0d6963f7d28e17f72"},
                      DigestCase{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
                      DigestCase{"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
                      DigestCase{"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                                 "d174ab98d277d9f5a5611c2c9f419d9f"},
                      DigestCase{"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
                                 "57edf4a22be3c955ac49da2e2107b67a"}));

// Lengths around the places where the padding needs one block or two.
INSTANTIATE_TEST_SUITE_P(PaddingBoundaries, Md5DigestTest,
                         ::testing::Values(DigestCase{std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
                                           DigestCase{std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
                                           DigestCase{std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
                                           DigestCase{std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
                                           DigestCase{std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
                                           DigestCase{std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
                                           DigestCase{std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
                                           DigestCase{std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
                                           DigestCase{std::string(4, '\0'), "f1d3ff8443297732862df21dc4e57262"}));

TEST(Md5Test, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    std::string message;
    for (int index = 0; index < 300; ++index) {
        message += static_cast<char>(index * 7 + 3);
    }
    const std::string whole = HexDigest(message);
    for (size_t pieceSize : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u}) {
        Md5 md5;
        for (size_t at = 0; at < message.size(); at += pieceSize) {
            md5.Update(message.data() + at, std::min(pieceSize, message.size() - at));
        }
        uint8_t digest[Md5::DigestSize];
        md5.Final(digest);
        char hex[2 * Md5::DigestSize + 1];
        Md5::ToHex(digest, hex);
        EXPECT_EQ(hex, whole) << "pieces of " << pieceSize;
    }
}

TEST(Md5Test, FinalLeavesTheObjectReadyForANewMessage) {
    Md5 md5;
    md5.Update("leftover", 8);
    uint8_t digest[Md5::DigestSize];
    md5.Final(digest);
    md5.Update("abc", 3);
    md5.Final(digest);
    char hex[2 * Md5::DigestSize + 1];
    Md5::ToHex(digest, hex);
    EXPECT_STREQ(hex, "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
