#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "foundation/StringClass.h"

// The signed list of a repository's files, "manifest.txt": the header lines
// "# Quillbox manifest", "# Serial: N" and "# Expires: YYYY-MM-DDTHH:MM:SSZ",
// then one line per file as sha256sum prints it (64 lower-case hexadecimal
// digits, two spaces, the path below the base URL), every line ending in LF.
// It is read strictly: anything else is no manifest.
class RepositoryManifest {
public:
    using Digest = std::array<uint8_t, 32>;

    // Larger than any list of files a repository has; more is refused before
    // it is held.
    static constexpr size_t MaximumSize = size_t{64} << 20;

    // Reads the text; false, with the reason in `problem`, when it is not a
    // manifest as above.
    [[nodiscard]] bool Read(const char* bytes, size_t length, StringClass& problem);

    // 1 to 2^63-1, higher for every new manifest of the repository.
    int64_t GetSerial() const { return Serial; }
    // Seconds since 1970-01-01T00:00:00Z.
    int64_t GetExpires() const { return Expires; }
    size_t GetFileCount() const { return Files.size(); }
    // The SHA-256 listed for the path, or null when it is not listed.
    const Digest* Find(const std::string& path) const;

private:
    bool ReadHeader(const std::string& line, int number, StringClass& problem);
    bool ReadEntry(const std::string& line, StringClass& problem);

    int64_t Serial = 0;
    int64_t Expires = 0;
    std::unordered_map<std::string, Digest> Files;
};

// Seconds since 1970-01-01T00:00:00Z of "YYYY-MM-DDTHH:MM:SSZ"; false when the
// text is not such a date (or not a real one, as February 30).
[[nodiscard]] bool ParseUtcTime(const std::string& text, int64_t& seconds);

// "YYYY-MM-DDTHH:MM:SSZ" of seconds since 1970-01-01T00:00:00Z, computed here
// rather than by the C runtime, whose range differs between systems.
std::string FormatUtcTime(int64_t seconds);

// The digest as 64 lower-case hexadecimal digits.
std::string DigestText(const RepositoryManifest::Digest& digest);
