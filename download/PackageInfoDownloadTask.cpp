#include "download/PackageInfoDownloadTask.h"

#include <cstdint>

#include "file/ChunkReader.h"
#include "file/FileClass.h"
#include "foundation/HashName.h"
#include "package/Package.h"
#include "package/PackageManager.h"

namespace {

constexpr int64_t ChunkHeaderSize = 8;

// True when the file, from its start, is a run of whole top-level chunks that
// ends exactly at the file's end.
bool HoldsWholeChunks(FileClass& file) {
    file.Seek(0, FileClass::FromStart);
    ChunkReader reader(&file);
    int64_t covered = 0;
    while (reader.OpenChunk()) {
        covered += ChunkHeaderSize + reader.CurrentChunkLength();
        reader.CloseChunk();
    }
    return covered == file.Size();
}

}  // namespace

PackageInfoDownloadTask::PackageInfoDownloadTask(uint32_t packageId, const char* repositoryUrl)
    : repositoryUrl(repositoryUrl), packageId(packageId) {
    url = FormatString("%s/packages/%08x.kpi", repositoryUrl, static_cast<unsigned>(packageId));
}

void PackageInfoDownloadTask::OnData(const char* data, int length) {
    // A record missing a block would be registered as if whole, so a block
    // that cannot be kept (memory ran out) ends the transfer as a failure.
    if (buffer.Write(data, length) != length) {
        cancelled = true;
    }
}

void PackageInfoDownloadTask::Complete() {
    if (succeeded) {
        RegisterPackage();
    }
    DownloadTask::Complete();
}

void PackageInfoDownloadTask::RegisterPackage() {
    // A body cut short (a server that announced less than the file) ends in
    // part of a chunk; read anyway, it would register the package with only
    // some of its files, and every later download would trust that list.
    if (!HoldsWholeChunks(buffer)) {
        return;
    }
    buffer.Seek(0, FileClass::FromStart);
    ChunkReader reader(&buffer);
    PackageManager& manager = PackageManager::GetInstance();
    Package* package = manager.AddPackage(reader);
    if (package == nullptr) {
        return;
    }
    // What arrived may describe another package, or be no package-info file
    // at all (an error page served with status 200). Such a record has no
    // place in the index: the package asked for stays unknown, which fails
    // the download.
    if (HashName(package->GetName()) != packageId) {
        manager.RemovePackage(package);
        delete package;
        return;
    }
    manager.Save();
}
