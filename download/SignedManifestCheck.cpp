#include "download/SignedManifestCheck.h"

#include "platform/Crypto.h"

bool SignedManifestCheck::IsSigned(const std::vector<std::vector<uint8_t>>& keys, const std::string& manifestBytes,
                                   const std::string& signatureBytes, StringClass& reason) {
    std::vector<std::vector<uint8_t>> signatures;
    if (!platform::SplitSignatures(reinterpret_cast<const uint8_t*>(signatureBytes.data()), signatureBytes.size(),
                                   signatures)) {
        reason = "The repository's manifest.sig holds no signature.";
        return false;
    }
    for (const std::vector<uint8_t>& der : keys) {
        platform::PublicKey key;
        if (!key.ReadDer(der)) {
            continue;
        }
        for (const std::vector<uint8_t>& signature : signatures) {
            if (key.Verifies(manifestBytes.data(), manifestBytes.size(), signature.data(), signature.size())) {
                return true;
            }
        }
    }
    reason = "No key trusted for the repository signed its manifest.txt.";
    return false;
}

bool SignedManifestCheck::Check(const std::vector<std::vector<uint8_t>>& keys, const std::string& manifestBytes,
                                const std::string& signatureBytes, const std::string& accepted, int64_t now,
                                StringClass& reason) {
    Newer = false;
    if (!IsSigned(keys, manifestBytes, signatureBytes, reason)) {
        return false;
    }
    StringClass problem;
    if (!Manifest.Read(manifestBytes.data(), manifestBytes.size(), problem)) {
        reason = FormatString("The repository's manifest.txt is not a manifest (%s).", problem.Peek());
        return false;
    }
    if (Manifest.GetExpires() < now) {
        reason =
            FormatString("The repository's manifest.txt expired at %s.", FormatUtcTime(Manifest.GetExpires()).c_str());
        return false;
    }
    if (Manifest.GetExpires() - now > LongestValidity) {
        reason = FormatString("The repository's manifest.txt claims to be valid until %s, more than a year ahead.",
                              FormatUtcTime(Manifest.GetExpires()).c_str());
        return false;
    }
    RepositoryManifest earlier;
    if (accepted.empty() || !earlier.Read(accepted.data(), accepted.size(), problem)) {
        Newer = true;
        return true;
    }
    if (Manifest.GetSerial() < earlier.GetSerial()) {
        reason = FormatString(
            "The repository's manifest.txt has serial %lld, older than serial %lld, which this store "
            "has accepted.",
            static_cast<long long>(Manifest.GetSerial()), static_cast<long long>(earlier.GetSerial()));
        return false;
    }
    if (Manifest.GetSerial() == earlier.GetSerial() && manifestBytes != accepted) {
        reason = FormatString(
            "The repository's manifest.txt has serial %lld, which this store has accepted with "
            "other contents.",
            static_cast<long long>(Manifest.GetSerial()));
        return false;
    }
    Newer = Manifest.GetSerial() > earlier.GetSerial();
    return true;
}
