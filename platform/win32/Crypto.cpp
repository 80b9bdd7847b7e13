#include "platform/Crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

// The providers are opened once for the life of the program: opening one
// costs far more than hashing a small file.
struct Providers {
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    BCRYPT_ALG_HANDLE ecdsaP256 = nullptr;

    Providers() {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
            sha256 = nullptr;
        }
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&ecdsaP256, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
            ecdsaP256 = nullptr;
        }
    }
};

const Providers& OpenProviders() {
    static const Providers providers;
    return providers;
}

// A hash object of the SHA-256 provider; null when none can be made.
BCRYPT_HASH_HANDLE CreateHash() {
    const BCRYPT_ALG_HANDLE provider = OpenProviders().sha256;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (provider == nullptr || !BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) {
        return nullptr;
    }
    return hash;
}

}  // namespace

struct Sha256::State {
    BCRYPT_HASH_HANDLE hash = CreateHash();
    // Set by a step that failed, until Finish reports it.
    bool failed = hash == nullptr;

    ~State() {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
        }
    }
};

Sha256::Sha256() : state(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    // CNG counts in 32 bits.
    constexpr size_t MostAtOnce = 1u << 30;
    while (!state->failed && length > 0) {
        const size_t part = std::min(length, MostAtOnce);
        if (!BCRYPT_SUCCESS(BCryptHashData(state->hash, const_cast<PUCHAR>(bytes), static_cast<ULONG>(part), 0))) {
            state->failed = true;
        }
        bytes += part;
        length -= part;
    }
}

bool Sha256::Finish(Sha256Digest& digest) {
    const bool finished = !state->failed && BCRYPT_SUCCESS(BCryptFinishHash(state->hash, digest.data(),
                                                                            static_cast<ULONG>(digest.size()), 0));
    // A finished hash object cannot be fed again: the next digest needs a new one.
    state = std::make_unique<State>();
    return finished;
}

struct PublicKey::Backend {
    BCRYPT_KEY_HANDLE key = nullptr;

    ~Backend() {
        if (key != nullptr) {
            BCryptDestroyKey(key);
        }
    }
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
    // The point X||Y ends the DER of a P-256 key; CNG takes it behind its own
    // small header.
    constexpr size_t PointSize = 64;
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + PointSize];
    const BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, PointSize / 2};
    std::memcpy(blob, &header, sizeof(header));
    std::memcpy(blob + sizeof(header), keyDer.data() + keyDer.size() - PointSize, PointSize);

    const BCRYPT_ALG_HANDLE provider = OpenProviders().ecdsaP256;
    auto imported = std::make_unique<Backend>();
    if (provider == nullptr || !BCRYPT_SUCCESS(BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                                                   &imported->key, blob, sizeof(blob), 0))) {
        imported->key = nullptr;
        return false;
    }
    backend = std::move(imported);
    return true;
}

bool PublicKey::BackendVerifies(const void* message, size_t length, const uint8_t* /*signature*/,
                                size_t /*signatureLength*/, const std::array<uint8_t, 64>& raw) const {
    Sha256Digest digest{};
    if (!HashSha256(message, length, digest)) {
        return false;
    }
    std::array<uint8_t, 64> signature = raw;
    return BCRYPT_SUCCESS(BCryptVerifySignature(backend->key, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                                signature.data(), static_cast<ULONG>(signature.size()), 0));
}

}  // namespace platform
