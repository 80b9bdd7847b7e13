#include "download/PackageDownloadTask.h"

#include <cstring>
#include <ctime>
#include <string>
#include <unordered_set>
#include <vector>

#include "download/DownloadManager.h"
#include "download/DownloadTaskRegistry.h"
#include "download/EscapeUrlPath.h"
#include "download/MemoryDownloadTask.h"
#include "foundation/HashName.h"
#include "package/ContentFileCheck.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageManager.h"
#include "package/RepositoryTrust.h"

namespace {

std::string LowerAscii(std::string text) {
    for (char& character : text) {
        character = AsciiLower(character);
    }
    return text;
}

// The names in the content folder, read once: a look of its own at each of
// many missing files would cost a lookup on the disk each. Letter case is
// ignored here, so that it only ever tells that a name is surely not there;
// a name it may hold is looked at as before.
class ContentFolderNames {
public:
    ContentFolderNames(FlatFilesystem& store, DirectoryStructure& layout)
        : PrefixLength(static_cast<size_t>(layout.GetContentFolder().GetLength()) + 1) {
        const StringClass folder = layout.GetContentFolder();
        std::vector<std::string> names;
        Known = store.ListFolder(folder, names) || !store.FileExists(folder);
        for (const std::string& name : names) {
            Names.insert(LowerAscii(name));
        }
    }

    // False only when the folder surely holds no file of the store path.
    bool MayHold(const char* path) const {
        return !Known || std::strlen(path) <= PrefixLength || Names.count(LowerAscii(path + PrefixLength)) != 0;
    }

private:
    size_t PrefixLength;
    bool Known = false;
    std::unordered_set<std::string> Names;
};

}  // namespace

PackageDownloadTask::PackageDownloadTask(const char* packageName, const char* repositoryUrl)
    : packageName(packageName), packageId(HashName(packageName)), repositoryUrl(repositoryUrl) {}

PackageDownloadTask::~PackageDownloadTask() {
    for (MemoryDownloadTask* task : {manifestTask, signatureTask}) {
        if (task != nullptr) {
            task->RemoveObserver(AsManifestObserver());
            task->cancelled = true;
            task->Release();
        }
    }
    if (infoTask != nullptr) {
        infoTask->RemoveObserver(AsInfoObserver());
        if (infoTask->GetObserverCount() == 0) {
            infoTask->cancelled = true;
            infoTask->Release();
        }
    }
    for (int index = 0; index < fileTasks.Count(); ++index) {
        LeaveFileTask(fileTasks[index]);
    }
    // Files that arrived keep their names also when the download failed, so
    // that running it again fetches only the rest. The result is told by now:
    // one that does not get its name durably is deleted and fetched again by
    // the next run.
    DurableBatch& batch = GetContentBatch();
    if (batch.HoldsAny()) {
        static_cast<void>(batch.Commit());
    }
}

void PackageDownloadTask::Start() {
    if (started) {
        return;
    }
    started = true;
    std::vector<std::vector<uint8_t>> keys;
    if (!RepositoryTrust(GetStoreFilesystem(), GetDirectoryStructure()).ReadKeys(repositoryUrl, keys)) {
        Refuse("Could not read the keys that the store trusts for the repository.");
        return;
    }
    if (keys.empty()) {
        StartPackage();
        return;
    }
    // Nothing of a trusted repository enters the store before its signed
    // manifest has been checked.
    trustedKeys = std::move(keys);
    manifestTask = StartMemoryDownload("manifest.txt", RepositoryManifest::MaximumSize);
    signatureTask = StartMemoryDownload("manifest.sig", SignedManifestCheck::MaximumSignatureFileSize);
}

MemoryDownloadTask* PackageDownloadTask::StartMemoryDownload(const char* fileName, size_t maximumSize) {
    const StringClass fileUrl = FormatString("%s/%s", EscapeUrlBase(repositoryUrl).Peek(), fileName);
    MemoryDownloadTask* task = new MemoryDownloadTask(fileUrl, maximumSize);
    task->AddObserver(AsManifestObserver());
    DownloadManager::GetInstance()->AddTask(task);
    return task;
}

void PackageDownloadTask::OnDownloadFinished(MemoryDownloadTask* task, bool succeeded) {
    if (finished) {
        return;
    }
    if (!succeeded) {
        const StringClass& reason = task->GetFailureReason();
        Refuse(reason.IsEmpty() ? FormatString("Could not fetch '%s'.", WithoutPassword(task->url).Peek()) : reason);
        return;
    }
    if (++manifestPartsArrived == 2) {
        CheckSignedManifest();
    }
}

// The accepted manifest is durable before anything it lists is used, so that
// a store never goes back to an older one after a power cut.
void PackageDownloadTask::CheckSignedManifest() {
    RepositoryTrust trust(GetStoreFilesystem(), GetDirectoryStructure());
    std::string accepted;
    if (!trust.ReadAcceptedManifest(repositoryUrl, accepted)) {
        Refuse("Could not read the manifest that the store accepted last from the repository.");
        return;
    }
    StringClass reason;
    if (!signedManifest.Check(trustedKeys, manifestTask->GetBody(), signatureTask->GetBody(), accepted,
                              static_cast<int64_t>(std::time(nullptr)), reason)) {
        Refuse(reason);
        return;
    }
    if (signedManifest.IsNewer() && !trust.KeepAcceptedManifest(repositoryUrl, manifestTask->GetBody())) {
        Refuse("Could not keep the repository's manifest in the store.");
        return;
    }
    trusted = true;
    StartPackage();
}

void PackageDownloadTask::StartPackage() {
    const Package* package = PackageManager::GetInstance().FindPackage(packageId);
    if (package != nullptr && !package->HasName(packageName)) {
        Refuse(DescribeHeldIdentifier(packageName, package->GetName()));
        return;
    }
    if (!trusted) {
        if (package == nullptr) {
            infoTask = StartInfoDownload(AsInfoObserver());
        } else {
            DownloadFiles(*package);
        }
        return;
    }
    // An installed package of a trusted repository is checked against the
    // signed package-info file as well.
    const StringClass infoPath =
        GetDirectoryStructure().GetPackageInfoPath(DirectoryStructure::GetPackageInfoFileName(packageId));
    const platform::Sha256Digest* digest = signedManifest.GetManifest().Find(infoPath.Peek());
    if (digest == nullptr) {
        Refuse(FormatString("The signed manifest does not list '%s'.", infoPath.Peek()));
        return;
    }
    infoTask = StartInfoDownload(AsInfoObserver());
    infoTask->RequireSignedDigest(*digest, package);
}

PackageInfoDownloadTask* PackageDownloadTask::StartInfoDownload(
    DownloadTaskObserver<PackageInfoDownloadTask>* observer) {
    PackageInfoDownloadTask* task = new PackageInfoDownloadTask(packageName, repositoryUrl);
    task->AddObserver(observer);
    DownloadManager::GetInstance()->AddTask(task);
    return task;
}

// A content file is present only when its bytes have the checksum its name
// promises and the size the package lists. One without that checksum (cut
// short by a power cut, zeroed) is fetched again. One that has it at another
// size is another package's whole file that this listing disagrees with: a
// forged checksum must not replace it, so the download fails. The batch is
// begun before any file task writes.
bool PackageDownloadTask::NeedsFetch(const PackageFileInfo& fileInfo, const StringClass& path,
                                     const platform::Sha256Digest* signedDigest, bool& fetch) {
    const ContentFileReport report = CheckContentFile(GetStoreFilesystem(), path, fileInfo, signedDigest);
    switch (report.state) {
        case ContentFileState::Missing:
        case ContentFileState::Damaged:
            fetch = true;
            return true;
        case ContentFileState::Whole:
            fetch = false;
            return true;
        case ContentFileState::OtherSize:
            Refuse(
                FormatString("The store's content file '%s' has the checksum of its name at %lld bytes; the package "
                             "lists it at %d.",
                             path.Peek(), static_cast<long long>(report.size), static_cast<int>(fileInfo.size)));
            return false;
        case ContentFileState::OtherBytes:
            Refuse(
                FormatString("The store's content file '%s' has the checksum of its name but not the SHA-256 that "
                             "the signed manifest lists.",
                             path.Peek()));
            return false;
        case ContentFileState::Unreadable:
            break;
    }
    Refuse(FormatString("The store's content file '%s' cannot be read.", path.Peek()));
    return false;
}

void PackageDownloadTask::DownloadFiles(const Package& package) {
    FlatFilesystem& store = GetStoreFilesystem();
    DirectoryStructure& layout = GetDirectoryStructure();
    DurableBatch& batch = GetContentBatch();
    DownloadTaskRegistry* registry = DownloadTaskRegistry::GetInstance();
    // A size no file can have can be neither fetched nor checked; the index
    // may still hold such a record from before they were refused.
    if (!package.HasPossibleSizes()) {
        Refuse(FormatString("The installed package '%s' lists a content file larger than any file can be.",
                            package.GetName().Peek()));
        return;
    }
    std::unordered_set<std::string> listed;
    for (int index = 0; index < package.GetFileCount(); ++index) {
        listed.insert(layout.GetContentFilePath(package.GetFileInfo(index)).Peek());
    }
    const ContentFolderNames present(store, layout);
    for (int index = 0; index < package.GetFileCount(); ++index) {
        const PackageFileInfo& fileInfo = package.GetFileInfo(index);
        const StringClass path = layout.GetContentFilePath(fileInfo);
        const platform::Sha256Digest* digest = nullptr;
        if (trusted && (digest = signedManifest.GetManifest().Find(path.Peek())) == nullptr) {
            Refuse(FormatString("The signed manifest does not list '%s'.", path.Peek()));
            return;
        }
        // The usual part file's name may be a content file's own (a package
        // may list "a.dat" and "a.dat.part" with one checksum): writing into
        // it would destroy that file. One that is present is judged by its
        // bytes when the file task starts.
        const StringClass partPath = layout.GetContentPartPath(fileInfo, false);
        const bool partNameTaken = listed.count(partPath.Peek()) != 0;
        // A file that arrived in this run waits in the batch for its name.
        bool fetch = !batch.Holds(path);
        if (fetch && present.MayHold(path) && !NeedsFetch(fileInfo, path, digest, fetch)) {
            return;
        }
        if (!fetch) {
            // A part file that an earlier run left for a file now whole is
            // no longer needed.
            if (!batch.Holds(path) &&
                (present.MayHold(partPath) || present.MayHold(layout.GetContentPartPath(fileInfo, true)))) {
                PackageFileDownloadTask::RemoveLeftovers(fileInfo, partNameTaken);
            }
            continue;
        }
        PackageFileDownloadTask* task =
            registry->AcquireFileTask(fileInfo, repositoryUrl, AsFileObserver(), partNameTaken, digest);
        // A file this task cannot wait for would let the package pass as
        // complete without it.
        if (!fileTasks.Add(task)) {
            LeaveFileTask(task);
            Refuse("Could not keep track of the content files: the memory ran out.");
            return;
        }
    }
    // The files present may have been placed by a program that stopped before
    // their names were durable.
    if (fileTasks.Count() == 0) {
        Announce(batch.Commit());
    }
}

void PackageDownloadTask::LeaveFileTask(PackageFileDownloadTask* task) {
    task->RemoveObserver(AsFileObserver());
    if (task->GetObserverCount() == 0) {
        DownloadTaskRegistry::GetInstance()->RemoveFileTask(task);
        task->cancelled = true;
        task->Release();
    }
}

void PackageDownloadTask::OnDownloadFinished(PackageInfoDownloadTask* task, bool succeeded) {
    if (!succeeded) {
        Refuse(task->GetFailureReason());
        return;
    }
    // The info task registers only a record of this very package, so none
    // here means the repository did not deliver it.
    const Package* package = PackageManager::GetInstance().FindPackage(packageId);
    if (package == nullptr) {
        Refuse(FormatString("The package-info file '%s' does not describe package '%s'.",
                            WithoutPassword(task->url).Peek(), packageName.Peek()));
        return;
    }
    DownloadFiles(*package);
}

void PackageDownloadTask::OnDownloadFinished(PackageFileDownloadTask* task, bool succeeded) {
    // Once the result is told, files that still arrive only wait for their
    // names, which the batch gives them when this task ends.
    if (finished) {
        return;
    }
    if (!succeeded) {
        Refuse(task->GetFailureReason());
        return;
    }
    ++filesCompleted;
    const bool last = filesCompleted == fileTasks.Count();
    DurableBatch& batch = GetContentBatch();
    if (!last && !batch.IsDue()) {
        return;
    }
    // Success is told only once every file the package needs has its name on
    // the disk, so that a power cut after it takes nothing back; a file that
    // did not get its name counts as failed.
    const bool placed = batch.Commit();
    if (!placed || last) {
        Announce(placed);
    }
}

void PackageDownloadTask::Announce(bool succeeded) {
    finished = true;
    NotifyObservers([this, succeeded](DownloadTaskObserver<PackageDownloadTask>* observer) {
        observer->OnDownloadFinished(this, succeeded);
    });
}

void PackageDownloadTask::Refuse(const StringClass& reason) {
    failureReason = reason;
    Announce(false);
}

uint32_t PackageDownloadTask::GetReceivedBytes() const {
    uint32_t sum = infoTask != nullptr ? static_cast<uint32_t>(infoTask->receivedSize.load()) : 0;
    for (const MemoryDownloadTask* task : {manifestTask, signatureTask}) {
        sum += task != nullptr ? static_cast<uint32_t>(task->receivedSize.load()) : 0;
    }
    for (int index = 0; index < fileTasks.Count(); ++index) {
        sum += static_cast<uint32_t>(fileTasks[index]->receivedSize.load());
    }
    return sum;
}

uint32_t PackageDownloadTask::GetTotalBytes() const {
    uint32_t sum = infoTask != nullptr ? infoTask->totalSize.load() : 0;
    for (const MemoryDownloadTask* task : {manifestTask, signatureTask}) {
        sum += task != nullptr ? task->totalSize.load() : 0;
    }
    for (int index = 0; index < fileTasks.Count(); ++index) {
        sum += fileTasks[index]->totalSize.load();
    }
    return sum;
}
