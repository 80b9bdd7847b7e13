#pragma once

#include <cstdint>

#include "download/DownloadTask.h"
#include "file/MemoryFile.h"
#include "foundation/StringClass.h"
#include "platform/Crypto.h"

class Package;

// Fetches a package-info file from a repository into memory and, once it has
// arrived whole, registers the package it describes with the package manager.
class PackageInfoDownloadTask : public DownloadTask {
public:
    // The package-info file of the package `packageName`.
    PackageInfoDownloadTask(const char* packageName, const char* repositoryUrl);
    ~PackageInfoDownloadTask() override = default;

    void OnStart() override {}
    void OnFinish() override {}
    void OnData(const char* data, int length) override;
    void Complete() override;

    // A trusted repository's package-info file must have the SHA-256 that its
    // signed manifest lists. A package already installed is then compared
    // with it rather than registered again: it must be the signed record.
    void RequireSignedDigest(const platform::Sha256Digest& digest, const Package* installed);

private:
    bool Keep(const char* data, int length);
    // Adds the package to the package manager and saves the index; false
    // unless the body is the whole record of the package asked for and the
    // index reached the disk.
    bool RegisterPackage();
    bool HasSignedDigest();
    bool MatchesInstalled();

    StringClass repositoryUrl;
    StringClass packageName;
    MemoryFile buffer;
    bool isSigned = false;
    platform::Sha256Digest signedDigest{};
    const Package* installed = nullptr;
};
