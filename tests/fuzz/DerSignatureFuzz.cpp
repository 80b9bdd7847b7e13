// A signature file: DER signatures side by side, each read into r and s. DER
// is strict, so r and s written again must give back the very bytes read.
#include <array>
#include <string>
#include <vector>

#include "FuzzTargets.h"
#include "platform/Crypto.h"

namespace {

std::string EncodeInteger(const uint8_t* number) {
    size_t skip = 0;
    while (skip < 31 && number[skip] == 0) {
        ++skip;
    }
    std::string value((number[skip] & 0x80) != 0 ? 1 : 0, '\0');
    value.append(number + skip, number + 32);
    return std::string{'\x02', static_cast<char>(value.size())} + value;
}

void CheckSignature(const uint8_t* data, size_t size) {
    std::array<uint8_t, 64> raw{};
    if (!platform::DerSignatureToRaw(data, size, raw)) {
        return;
    }
    const std::string content = EncodeInteger(raw.data()) + EncodeInteger(raw.data() + 32);
    const std::string encoded = std::string{'\x30', static_cast<char>(content.size())} + content;
    FUZZ_CHECK(encoded == std::string(reinterpret_cast<const char*>(data), size));
}

}  // namespace

int FuzzDerSignature(const uint8_t* data, size_t size) {
    if (size > FuzzMaxInputSize) {
        return 0;
    }
    CheckSignature(data, size);
    std::vector<std::vector<uint8_t>> signatures;
    if (!platform::SplitSignatures(data, size, signatures)) {
        FUZZ_CHECK(signatures.empty());
        return 0;
    }
    FUZZ_CHECK(!signatures.empty() && signatures.size() <= platform::MaxSignatureCount);
    std::string joined;
    for (const auto& signature : signatures) {
        FUZZ_CHECK(signature.size() >= 2 && signature[0] == 0x30);
        joined.append(signature.begin(), signature.end());
        CheckSignature(signature.data(), signature.size());
    }
    FUZZ_CHECK(joined == std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
