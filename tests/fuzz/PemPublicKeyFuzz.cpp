// A public key file as a user hands it over: PEM text, of which only a P-256
// key is taken.
#include <string_view>
#include <vector>

#include "FuzzTargets.h"
#include "platform/Crypto.h"

int FuzzPemPublicKey(const uint8_t* data, size_t size) {
    if (size > FuzzMaxInputSize) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<uint8_t> der;
    const bool decoded = platform::PemToDer(text, "PUBLIC KEY", der);
    FUZZ_CHECK(decoded == !der.empty());
    FUZZ_CHECK(der.size() <= size / 4 * 3);
    platform::PublicKey key;
    if (key.ReadPem(text)) {
        FUZZ_CHECK(decoded && key.Der() == der && der.size() == 91);
        const uint8_t signature[] = {0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01};
        FUZZ_CHECK(!key.Verifies(data, size, signature, sizeof(signature)));
    } else {
        FUZZ_CHECK(key.Der().empty());
    }
    return 0;
}
