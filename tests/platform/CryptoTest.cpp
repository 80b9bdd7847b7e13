// The keys and signatures in crypto/ were made by crypto/make-data.sh with the
// openssl tool, as a publisher makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "platform/Crypto.h"
#include "support/TestSupport.h"

namespace {

std::string Data(const std::string& name) {
    const std::string bytes = testsupport::ReadFile(std::string(QUILLBOX_TEST_SOURCE_DIR) + "/platform/crypto/" + name);
    EXPECT_FALSE(bytes.empty()) << "missing test data " << name;
    return bytes;
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

template <typename Digits>
std::string Hex(const Digits& bytes) {
    std::string hex;
    for (const uint8_t byte : bytes) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

std::string Flipped(std::string bytes, size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

TEST(CryptoTest, Sha256OfKnownVectorsFedWholeAndInOddPieces) {
    const struct {
        std::string input;
        const char* digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    platform::Sha256 hash;
    for (const auto& vector : vectors) {
        SCOPED_TRACE(vector.input.substr(0, 10));
        for (const size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{65}, size_t{100003}, vector.input.size()}) {
            for (size_t at = 0; at < vector.input.size(); at += piece) {
                hash.Update(vector.input.data() + at, std::min(piece, vector.input.size() - at));
            }
            platform::Sha256Digest digest{};
            ASSERT_TRUE(hash.Finish(digest));
            EXPECT_EQ(Hex(digest), vector.digest) << "pieces of " << piece;
        }
    }
}

TEST(CryptoTest, OnlyAPemP256PublicKeyOfTheNamedCurveIsAccepted) {
    const std::string good = Data("public.pem");
    std::string crlf;
    for (const char c : good) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    // A changed digit of Y moves the point off the curve.
    ASSERT_NE(good.find("=="), std::string::npos);
    const std::string offCurve = Flipped(good, good.find("==") - 2);
    std::string notBase64 = good;
    notBase64[good.find("MFkw") + 1] = '*';
    const struct {
        const char* name;
        std::string text;
        bool accepted;
    } cases[] = {
        {"public key", good, true},
        {"second public key", Data("other-public.pem"), true},
        {"CR LF lines with text before", "made by the publisher\r\n" + crlf, true},
        {"private key", Data("private.pem"), false},
        {"RSA key", Data("rsa-public.pem"), false},
        {"P-384 key", Data("p384-public.pem"), false},
        {"P-256 with explicit parameters", Data("explicit-public.pem"), false},
        {"P-256 with a compressed point", Data("compressed-public.pem"), false},
        {"point off the curve", offCurve, false},
        {"character outside base64", notBase64, false},
        {"padding cut", good.substr(0, good.find("==")) + good.substr(good.find("==") + 2), false},
        {"no end line", good.substr(0, good.find("-----END")), false},
        {"garbage", "not a key\n\x01\x02", false},
        {"empty", "", false},
    };
    for (const auto& test : cases) {
        platform::PublicKey key;
        EXPECT_EQ(key.ReadPem(test.text), test.accepted) << test.name;
        EXPECT_EQ(key.Der().size(), test.accepted ? 91u : 0u) << test.name;
    }
    platform::PublicKey key;
    ASSERT_TRUE(key.ReadPem(good));
    platform::Sha256Digest id{};
    ASSERT_TRUE(platform::HashSha256(key.Der().data(), key.Der().size(), id));
    // `openssl pkey -pubin -in public.pem -outform DER | sha256sum`
    EXPECT_EQ(Hex(id), "52bb05505a3908a1fd75763d39538680408109251861cad33c60f1b65e8ffef7");
}

TEST(CryptoTest, OnlyTheKeysOwnSignatureOfTheExactMessageVerifies) {
    platform::PublicKey publisher;
    platform::PublicKey other;
    ASSERT_TRUE(publisher.ReadPem(Data("public.pem")));
    ASSERT_TRUE(other.ReadPem(Data("other-public.pem")));
    const std::string message = Data("message.txt");
    const std::string good = Data("good.sig");
    const struct {
        const char* name;
        const platform::PublicKey& key;
        std::string signature;
        std::string message;
        bool verifies;
    } cases[] = {
        {"good signature", publisher, good, message, true},
        {"r of 31 bytes", publisher, Data("short-r.sig"), message, true},
        {"other key's signature", other, Data("other.sig"), message, true},
        {"signature of another key", publisher, Data("other.sig"), message, false},
        {"checked with another key", other, good, message, false},
        {"flipped message byte", publisher, good, Flipped(message, 20), false},
        {"flipped signature byte", publisher, Flipped(good, good.size() - 1), message, false},
        {"truncated signature", publisher, good.substr(0, good.size() - 1), message, false},
        {"byte after the signature", publisher, good + '\0', message, false},
        {"two signatures as one", publisher, good + Data("other.sig"), message, false},
        {"P-384 signature", publisher, Data("p384.sig"), message, false},
        {"garbage", publisher, std::string(72, '\x30'), message, false},
        {"empty", publisher, "", message, false},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(
            test.key.Verifies(test.message.data(), test.message.size(), Bytes(test.signature), test.signature.size()),
            test.verifies)
            << test.name;
    }
    EXPECT_FALSE(platform::PublicKey().Verifies(message.data(), message.size(), Bytes(good), good.size()));
}

TEST(CryptoTest, ConcatenatedSignaturesSplitAndEachIsChecked) {
    platform::PublicKey publisher;
    ASSERT_TRUE(publisher.ReadPem(Data("public.pem")));
    const std::string message = Data("message.txt");
    const std::string pieces[] = {Data("other.sig"), Data("good.sig"), Data("short-r.sig")};
    const std::string file = pieces[0] + pieces[1] + pieces[2];
    std::vector<std::vector<uint8_t>> signatures;
    ASSERT_TRUE(platform::SplitSignatures(Bytes(file), file.size(), signatures));
    ASSERT_EQ(signatures.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::string(signatures[i].begin(), signatures[i].end()), pieces[i]);
        EXPECT_EQ(publisher.Verifies(message.data(), message.size(), signatures[i].data(), signatures[i].size()),
                  i > 0);
    }
    for (const std::string& broken :
         {file.substr(0, file.size() - 1), file + '\x30', file + std::string("\x31\x00", 2), std::string()}) {
        EXPECT_FALSE(platform::SplitSignatures(Bytes(broken), broken.size(), signatures)) << broken.size();
        EXPECT_TRUE(signatures.empty());
    }
    std::string many;
    for (size_t i = 0; i <= platform::MaxSignatureCount; ++i) {
        many += pieces[1];
    }
    EXPECT_FALSE(platform::SplitSignatures(Bytes(many), many.size(), signatures));
    const std::string longForm =
        "\x30\x81\x80" + std::string(0x80, 'x') + std::string("\x30\x82\x01\x00", 4) + std::string(0x100, 'y');
    EXPECT_TRUE(platform::SplitSignatures(Bytes(longForm), longForm.size(), signatures));
    const std::string needlesslyLong = std::string("\x30\x81\x05", 3) + "12345";
    EXPECT_FALSE(platform::SplitSignatures(Bytes(needlesslyLong), needlesslyLong.size(), signatures));
}

TEST(CryptoTest, DerSignaturesBecomeRAndSOnlyWhenStrictlyEncoded) {
    const std::string r31 = std::string(1, '\x7f') + std::string(30, '\x11');
    const std::string r33 = std::string(1, '\0') + std::string(32, '\x80');
    const std::string s = std::string(1, '\x01');
    const auto sequence = [](const std::string& content) {
        return "\x30" + std::string(1, char(content.size())) + content;
    };
    const auto integer = [](const std::string& value) { return "\x02" + std::string(1, char(value.size())) + value; };
    const std::string whole = sequence(integer(r31) + integer(s));
    const struct {
        const char* name;
        std::string der;
        std::string raw;  // empty when refused
    } cases[] = {
        {"short r", whole, std::string(1, '\0') + r31 + std::string(31, '\0') + s},
        {"r with its sign byte", sequence(integer(r33) + integer(s)), r33.substr(1) + std::string(31, '\0') + s},
        {"negative r", sequence(integer(r33.substr(1)) + integer(s)), ""},
        {"needless zero byte", sequence(integer(std::string(1, '\0') + r31) + integer(s)), ""},
        {"33 significant bytes", sequence(integer(std::string(33, '\x11')) + integer(s)), ""},
        {"zero s", sequence(integer(r31) + integer(std::string(1, '\0'))), ""},
        {"empty s", sequence(integer(r31) + integer("")), ""},
        {"one number", sequence(integer(r31)), ""},
        {"three numbers", sequence(integer(r31) + integer(s) + integer(s)), ""},
        {"length past the end", whole.substr(0, whole.size() - 1), ""},
        {"long form length", "\x30\x81" + whole.substr(1), ""},
        {"not a sequence", "\x31" + whole.substr(1), ""},
    };
    for (const auto& test : cases) {
        std::array<uint8_t, 64> raw{};
        const bool read = platform::DerSignatureToRaw(Bytes(test.der), test.der.size(), raw);
        EXPECT_EQ(read, !test.raw.empty()) << test.name;
        if (read) {
            EXPECT_EQ(std::string(raw.begin(), raw.end()), test.raw) << test.name;
        }
    }
}

}  // namespace
