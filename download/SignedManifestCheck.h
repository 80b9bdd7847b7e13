#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/RepositoryManifest.h"
#include "foundation/StringClass.h"

// The checks a repository's signed manifest must pass before anything it
// lists enters the store: a signature by a key bound to the repository, a
// serial no older than the one the store accepted last (an equal one with the
// same bytes), and an expiry date neither past nor implausibly far ahead.
class SignedManifestCheck {
public:
    // A manifest valid for longer than this is refused: a publisher renews
    // its manifest well within a year, so a date further ahead is a mistake
    // or a way around the expiry.
    static constexpr int64_t LongestValidity = int64_t{366} * 24 * 3600;
    static constexpr size_t MaximumSignatureFileSize = size_t{64} * 1024;

    // True when the manifest passes; false with the reason (no line end).
    // `accepted` is the manifest the store accepted last (empty for none),
    // `now` seconds since 1970 UTC.
    [[nodiscard]] bool Check(const std::vector<std::vector<uint8_t>>& keys, const std::string& manifestBytes,
                             const std::string& signatureBytes, const std::string& accepted, int64_t now,
                             StringClass& reason);

    const RepositoryManifest& GetManifest() const { return Manifest; }
    // True when the manifest is newer than the one accepted last, and is to be
    // kept in its place.
    bool IsNewer() const { return Newer; }

private:
    [[nodiscard]] bool IsSigned(const std::vector<std::vector<uint8_t>>& keys, const std::string& manifestBytes,
                                const std::string& signatureBytes, StringClass& reason);

    RepositoryManifest Manifest;
    bool Newer = false;
};
