// The parts of the cryptography that both backends share: the readers of PEM
// text and DER signatures, which see outside bytes, and the choice of which
// keys are accepted.
#include "platform/Crypto.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

// The SubjectPublicKeyInfo of every P-256 key of the named curve begins with
// these bytes (the algorithm ecPublicKey, the curve prime256v1, a BIT STRING
// of 66 bytes); the uncompressed point 04||X||Y follows.
constexpr uint8_t P256KeyPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01,
                                     0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
constexpr size_t P256KeySize = sizeof(P256KeyPrefix) + 1 + 64;

// Numbers below 2^256 for the check that a key's point lies on the curve, in
// 32-bit limbs, least significant first. Only a key's import uses them, so
// plain shift-and-add arithmetic is fast enough.
using Number = std::array<uint32_t, 8>;
// The prime of the field and the constant b of the curve y^2 = x^3 - 3x + b.
constexpr Number P256Prime = {0xffffffff, 0xffffffff, 0xffffffff, 0, 0, 0, 1, 0xffffffff};
constexpr Number P256B = {0x27d2604b, 0x3bce3c3e, 0xcc53b0f6, 0x651d06b0,
                          0x769886bc, 0xb3ebbd55, 0xaa3a93e7, 0x5ac635d8};

Number FromBigEndian(const uint8_t* bytes) {
    Number number{};
    for (size_t i = 0; i < 32; ++i) {
        number[7 - i / 4] |= static_cast<uint32_t>(bytes[i]) << (8 * (3 - i % 4));
    }
    return number;
}

bool IsBelow(const Number& a, const Number& b) {
    for (size_t i = 8; i-- > 0;) {
        if (a[i] != b[i]) {
            return a[i] < b[i];
        }
    }
    return false;
}

// a + b or a - b modulo 2^256; true when it carried or borrowed.
bool Add(Number& a, const Number& b) {
    uint64_t carry = 0;
    for (size_t i = 0; i < 8; ++i) {
        carry += static_cast<uint64_t>(a[i]) + b[i];
        a[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
    return carry != 0;
}

bool Subtract(Number& a, const Number& b) {
    uint64_t borrow = 0;
    for (size_t i = 0; i < 8; ++i) {
        const uint64_t difference = static_cast<uint64_t>(a[i]) - b[i] - borrow;
        a[i] = static_cast<uint32_t>(difference);
        borrow = (difference >> 32) & 1;
    }
    return borrow != 0;
}

// The field operations, for numbers below the prime.
Number AddModP(Number a, const Number& b) {
    if (Add(a, b) || !IsBelow(a, P256Prime)) {
        Subtract(a, P256Prime);
    }
    return a;
}

Number SubtractModP(Number a, const Number& b) {
    if (Subtract(a, b)) {
        Add(a, P256Prime);
    }
    return a;
}

Number MultiplyModP(const Number& a, const Number& b) {
    Number product{};
    for (size_t bit = 256; bit-- > 0;) {
        product = AddModP(product, product);
        if (((a[bit / 32] >> (bit % 32)) & 1) != 0) {
            product = AddModP(product, b);
        }
    }
    return product;
}

bool IsOnCurve(const uint8_t* point) {
    const Number x = FromBigEndian(point);
    const Number y = FromBigEndian(point + 32);
    if (!IsBelow(x, P256Prime) || !IsBelow(y, P256Prime)) {
        return false;
    }
    const Number cube = MultiplyModP(MultiplyModP(x, x), x);
    const Number threeX = AddModP(AddModP(x, x), x);
    return MultiplyModP(y, y) == AddModP(SubtractModP(cube, threeX), P256B);
}

// A P-256 key of the named curve with an uncompressed point on the curve.
// The point is checked here rather than left to the system, so that both
// backends refuse the same keys.
bool IsP256KeyDer(const std::vector<uint8_t>& der) {
    return der.size() == P256KeySize && std::equal(std::begin(P256KeyPrefix), std::end(P256KeyPrefix), der.begin()) &&
           der[sizeof(P256KeyPrefix)] == 0x04 && IsOnCurve(der.data() + sizeof(P256KeyPrefix) + 1);
}

constexpr uint8_t SequenceTag = 0x30;
constexpr uint8_t IntegerTag = 0x02;

// The value of one base64 digit, or -1.
int Base64Value(char digit) {
    if (digit >= 'A' && digit <= 'Z') return digit - 'A';
    if (digit >= 'a' && digit <= 'z') return digit - 'a' + 26;
    if (digit >= '0' && digit <= '9') return digit - '0' + 52;
    if (digit == '+') return 62;
    if (digit == '/') return 63;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Strict base64 with its padding; white space between the digits is allowed,
// as PEM breaks the lines. Bits left over in the last digit must be zero, so
// that one text stands for one series of bytes only.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    uint32_t bits = 0;
    size_t digits = 0;
    size_t padding = 0;
    for (const char c : text) {
        if (IsSpace(c)) {
            continue;
        }
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || padding > 0) {
            return false;
        }
        bits = (bits << 6) | static_cast<uint32_t>(value);
        if (++digits % 4 == 0) {
            bytes.push_back(static_cast<uint8_t>(bits >> 16));
            bytes.push_back(static_cast<uint8_t>(bits >> 8));
            bytes.push_back(static_cast<uint8_t>(bits));
            bits = 0;
        }
    }
    const size_t left = digits % 4;
    if (left == 0) {
        return padding == 0;
    }
    if (left == 1 || padding != 4 - left) {
        return false;
    }
    if (left == 2) {
        bytes.push_back(static_cast<uint8_t>(bits >> 4));
        return (bits & 0x0f) == 0;
    }
    bytes.push_back(static_cast<uint8_t>(bits >> 10));
    bytes.push_back(static_cast<uint8_t>(bits >> 2));
    return (bits & 0x03) == 0;
}

// The position of `line` where it stands alone on a line of the text
// (ended by LF or CR LF, or the end of the text), searched from `from`;
// npos when it is not there.
size_t FindLine(std::string_view text, std::string_view line, size_t from) {
    for (size_t at = text.find(line, from); at != std::string_view::npos; at = text.find(line, at + 1)) {
        const bool starts = at == 0 || text[at - 1] == '\n';
        std::string_view rest = text.substr(at + line.size());
        if (!rest.empty() && rest.front() == '\r') {
            rest.remove_prefix(1);
        }
        if (starts && (rest.empty() || rest.front() == '\n')) {
            return at;
        }
    }
    return std::string_view::npos;
}

// Reads a DER length after the tag at bytes[at]: the short form, or the long
// form of one or two bytes written as short as it can be. Sets `header` to
// the size of tag and length.
bool ReadDerLength(const uint8_t* bytes, size_t length, size_t at, size_t& header, size_t& contentLength) {
    if (length - at < 2) {
        return false;
    }
    const uint8_t first = bytes[at + 1];
    if (first < 0x80) {
        header = 2;
        contentLength = first;
        return true;
    }
    const size_t count = first & 0x7f;
    if (count < 1 || count > 2 || length - at < 2 + count) {
        return false;
    }
    contentLength = 0;
    for (size_t i = 0; i < count; ++i) {
        contentLength = (contentLength << 8) | bytes[at + 2 + i];
    }
    header = 2 + count;
    const size_t shortest = count == 1 ? 0x80 : 0x100;
    return contentLength >= shortest;
}

// Reads one positive INTEGER of at most 32 significant bytes at bytes[at]
// into `number`, right-aligned. A P-256 signature's INTEGERs are short, so
// only the short length form is DER here.
bool ReadInteger(const uint8_t* bytes, size_t size, size_t& at, uint8_t* number) {
    if (size - at < 2 || bytes[at] != IntegerTag) {
        return false;
    }
    const size_t length = bytes[at + 1];
    const uint8_t* value = bytes + at + 2;
    if (length < 1 || length > 33 || size - at - 2 < length) {
        return false;
    }
    const bool negative = (value[0] & 0x80) != 0;
    const bool paddedNeedlessly = length > 1 && value[0] == 0 && (value[1] & 0x80) == 0;
    const bool zero = length == 1 && value[0] == 0;
    if (negative || paddedNeedlessly || zero) {
        return false;
    }
    const size_t skip = value[0] == 0 ? 1 : 0;
    const size_t significant = length - skip;
    if (significant > 32) {
        return false;
    }
    std::memset(number, 0, 32 - significant);
    std::memcpy(number + 32 - significant, value + skip, significant);
    at += 2 + length;
    return true;
}

}  // namespace

bool HashSha256(const void* data, size_t length, Sha256Digest& digest) {
    Sha256 hash;
    hash.Update(data, length);
    return hash.Finish(digest);
}

bool PublicKey::ReadPem(std::string_view text) {
    der.clear();
    std::vector<uint8_t> read;
    if (!PemToDer(text, "PUBLIC KEY", read) || !IsP256KeyDer(read)) {
        read.clear();
    }
    if (!Import(read)) {
        return false;
    }
    der = std::move(read);
    return true;
}

bool PublicKey::ReadDer(const std::vector<uint8_t>& keyDer) {
    der.clear();
    std::vector<uint8_t> read = keyDer;
    if (!IsP256KeyDer(read)) {
        read.clear();
    }
    if (!Import(read)) {
        return false;
    }
    der = std::move(read);
    return true;
}

bool PublicKey::Verifies(const void* message, size_t length, const uint8_t* signature, size_t signatureLength) const {
    std::array<uint8_t, 64> raw{};
    return backend && DerSignatureToRaw(signature, signatureLength, raw) &&
           BackendVerifies(message, length, signature, signatureLength, raw);
}

bool SplitSignatures(const uint8_t* bytes, size_t length, std::vector<std::vector<uint8_t>>& signatures) {
    signatures.clear();
    size_t at = 0;
    while (at < length) {
        size_t header = 0;
        size_t content = 0;
        if (bytes[at] != SequenceTag || !ReadDerLength(bytes, length, at, header, content) ||
            length - at - header < content || signatures.size() == MaxSignatureCount) {
            signatures.clear();
            return false;
        }
        signatures.emplace_back(bytes + at, bytes + at + header + content);
        at += header + content;
    }
    return !signatures.empty();
}

bool DerSignatureToRaw(const uint8_t* der, size_t length, std::array<uint8_t, 64>& raw) {
    if (length < 2 || der[0] != SequenceTag || der[1] >= 0x80 || der[1] != length - 2) {
        return false;
    }
    size_t at = 2;
    return ReadInteger(der, length, at, raw.data()) && ReadInteger(der, length, at, raw.data() + 32) && at == length;
}

bool PemToDer(std::string_view text, std::string_view label, std::vector<uint8_t>& der) {
    der.clear();
    const std::string begin = "-----BEGIN " + std::string(label) + "-----";
    const std::string end = "-----END " + std::string(label) + "-----";
    const size_t first = FindLine(text, begin, 0);
    if (first == std::string_view::npos) {
        return false;
    }
    const size_t body = first + begin.size();
    const size_t last = FindLine(text, end, body);
    if (last == std::string_view::npos || !DecodeBase64(text.substr(body, last - body), der) || der.empty()) {
        der.clear();
        return false;
    }
    return true;
}

}  // namespace platform
