#include "platform/Crypto.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace platform {

struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    // Set by a step that failed, until Finish reports it.
    bool failed = context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1;

    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t length) {
    if (!state->failed && length > 0 && EVP_DigestUpdate(state->context, data, length) != 1) {
        state->failed = true;
    }
}

bool Sha256::Finish(Sha256Digest& digest) {
    unsigned int size = 0;
    const bool finished =
        !state->failed && EVP_DigestFinal_ex(state->context, digest.data(), &size) == 1 && size == digest.size();
    state->failed = state->context == nullptr || EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) != 1;
    return finished;
}

struct PublicKey::Backend {
    EVP_PKEY* key = nullptr;

    ~Backend() { EVP_PKEY_free(key); }
};

PublicKey::PublicKey() = default;
PublicKey::~PublicKey() = default;
PublicKey::PublicKey(PublicKey&& other) noexcept = default;
PublicKey& PublicKey::operator=(PublicKey&& other) noexcept = default;

bool PublicKey::Import(const std::vector<uint8_t>& keyDer) {
    backend.reset();
    if (keyDer.empty()) {
        return false;
    }
    auto imported = std::make_unique<Backend>();
    const unsigned char* at = keyDer.data();
    // The reader also refuses a point that does not lie on the curve.
    imported->key = d2i_PUBKEY(nullptr, &at, static_cast<long>(keyDer.size()));
    if (imported->key == nullptr || at != keyDer.data() + keyDer.size() || !EVP_PKEY_is_a(imported->key, "EC")) {
        return false;
    }
    backend = std::move(imported);
    return true;
}

bool PublicKey::BackendVerifies(const void* message, size_t length, const uint8_t* signature, size_t signatureLength,
                                const std::array<uint8_t, 64>& /*raw*/) const {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool verified =
        context != nullptr && EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, backend->key) == 1 &&
        EVP_DigestVerify(context, signature, signatureLength, static_cast<const unsigned char*>(message), length) == 1;
    EVP_MD_CTX_free(context);
    return verified;
}

}  // namespace platform
