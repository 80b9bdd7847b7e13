#pragma once

#include <cstdint>

#include "download/DownloadTask.h"
#include "file/MemoryFile.h"
#include "foundation/StringClass.h"

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

    // Why a body that arrived whole was not registered; empty otherwise.
    const StringClass& GetRefusal() const { return refusal; }

private:
    bool Keep(const char* data, int length);
    // Adds the package to the package manager and saves the index; false
    // unless the body is the whole record of the package asked for and the
    // index reached the disk.
    bool RegisterPackage();

    StringClass repositoryUrl;
    StringClass packageName;
    MemoryFile buffer;
    StringClass refusal;
};
