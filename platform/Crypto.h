#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// SHA-256 and the check of ECDSA P-256 signatures made with SHA-256, as the
// openssl tool makes them. The readers of the outside forms (PEM text, DER
// signatures) are shared by both backends, so that both accept exactly the
// same keys and signatures.
namespace platform {

using Sha256Digest = std::array<uint8_t, 32>;

// A SHA-256 fed in pieces, as the bytes arrive.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t length);
    // The digest of everything fed since construction or the last Finish,
    // which starts a new one. False when the system could not hash.
    [[nodiscard]] bool Finish(Sha256Digest& digest);

private:
    struct State;
    std::unique_ptr<State> state;
};

[[nodiscard]] bool HashSha256(const void* data, size_t length, Sha256Digest& digest);

// An EC P-256 public key that can check signatures.
class PublicKey {
public:
    PublicKey();
    ~PublicKey();
    PublicKey(PublicKey&& other) noexcept;
    PublicKey& operator=(PublicKey&& other) noexcept;

    // Reads the first PEM "PUBLIC KEY" block of the text (as `openssl pkey
    // -pubout` prints it). False, and no key held, unless it is a P-256 key
    // of the named curve with an uncompressed point (the form that tool
    // prints) that lies on the curve.
    [[nodiscard]] bool ReadPem(std::string_view text);
    // The same from the DER form that Der() gives (a key kept in the store).
    [[nodiscard]] bool ReadDer(const std::vector<uint8_t>& keyDer);
    // The key's SubjectPublicKeyInfo in DER form, empty when none is held.
    const std::vector<uint8_t>& Der() const { return der; }

    // True only when `signature` is one DER-encoded ECDSA signature of the
    // message with SHA-256 that this key made.
    [[nodiscard]] bool Verifies(const void* message, size_t length, const uint8_t* signature,
                                size_t signatureLength) const;

private:
    // What each backend provides: holding the key of the DER of a P-256 key
    // already checked (none when the DER is empty or the system refuses it),
    // and the check of a signature given both in DER and as r and s.
    struct Backend;
    [[nodiscard]] bool Import(const std::vector<uint8_t>& keyDer);
    bool BackendVerifies(const void* message, size_t length, const uint8_t* signature, size_t signatureLength,
                         const std::array<uint8_t, 64>& raw) const;

    std::unique_ptr<Backend> backend;
    std::vector<uint8_t> der;
};

// A file may hold at most this many signatures side by side.
inline constexpr size_t MaxSignatureCount = 64;

// Splits bytes that hold DER signatures simply concatenated into the single
// signatures, each one complete DER SEQUENCE. False when the bytes are not
// such a series (or hold none, or more than MaxSignatureCount).
[[nodiscard]] bool SplitSignatures(const uint8_t* bytes, size_t length, std::vector<std::vector<uint8_t>>& signatures);

// The two numbers of a DER-encoded P-256 signature, each as 32 big-endian
// bytes (r then s). False for anything but a strict DER SEQUENCE of two
// positive INTEGERs of at most 32 significant bytes, with nothing after it.
[[nodiscard]] bool DerSignatureToRaw(const uint8_t* der, size_t length, std::array<uint8_t, 64>& raw);

// The bytes of the first PEM block labelled `label` ("PUBLIC KEY") in the
// text. False when there is none, or its base64 is not well-formed.
[[nodiscard]] bool PemToDer(std::string_view text, std::string_view label, std::vector<uint8_t>& der);

}  // namespace platform
