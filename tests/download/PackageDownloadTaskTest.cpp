#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/DataPaths.h"
#include "download/DownloadManager.h"
#include "download/DownloadTaskRegistry.h"
#include "download/DownloadTestHelpers.h"
#include "download/PackageDownloadTask.h"
#include "download/PackageRepository.h"
#include "file/ChunkReader.h"
#include "file/MemoryFile.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageManager.h"
#include "support/HttpServer.h"
#include "support/TestSupport.h"

using downloadtest::ResultRecorder;
using downloadtest::UpdateUntil;
using repositorytest::ContentFile;
using repositorytest::ContentFileName;
using repositorytest::Pattern;

namespace {

using Recorder = ResultRecorder<PackageDownloadTask>;

// The process has one store, fixed at its first use; it lies in a folder
// that outlives every test and is emptied before each one.
const std::string& StoreRoot() {
    static testsupport::TempDir parent;
    static const std::string root = [] {
        if (!DataPathsDiscovered) {
            StoreBasePath = (parent.Path() + "/").c_str();
            DataPathsDiscovered = true;
        }
        return std::string(GetStoreFilesystem().GetRoot().Peek());
    }();
    return root;
}

class PackageDownloadTaskTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        served = new testsupport::TempDir;
        server = new testsupport::HttpServer(served->Path(), 300);
    }
    static void TearDownTestSuite() {
        delete server;
        delete served;
    }

    void SetUp() override {
        ASSERT_TRUE(server->IsRunning()) << "the loopback HTTP server did not start";
        std::filesystem::remove_all(StoreRoot());
        std::filesystem::create_directories(StoreRoot());
        static int repositoryNumber = 0;
        const std::string name = "r" + std::to_string(++repositoryNumber);
        repository = std::make_unique<repositorytest::PackageRepository>(*served / name);
        url = server->BaseUrl() + "/" + name;
        fault = [name](const std::string& word) { return server->BaseUrl() + "/_" + word + "/" + name; };
        manager->StartWorker();
    }

    void TearDown() override {
        manager->Shutdown();
        EXPECT_EQ(registry->GetPackageTaskCount(), 0);
        EXPECT_EQ(registry->GetFileTaskCount(), 0);
        PackageManager::ReleaseInstance();
    }

    PackageDownloadTask* Begin(const std::string& packageName, Recorder& recorder, const std::string& base) {
        PackageDownloadTask* task = registry->AcquirePackageTask(packageName.c_str(), base.c_str(), &recorder);
        task->Start();
        return task;
    }

    bool WaitForResult(const Recorder& recorder, const PackageDownloadTask* task) {
        return UpdateUntil(*manager, [&] { return recorder.CountFor(task) > 0; });
    }

    // Downloads, waits for the result, releases the task and lets the
    // transfers it leaves behind end.
    bool Download(const std::string& packageName, const std::string& base) {
        Recorder recorder;
        PackageDownloadTask* task = Begin(packageName, recorder, base);
        EXPECT_TRUE(WaitForResult(recorder, task));
        EXPECT_EQ(recorder.CountFor(task), 1);
        registry->ReleasePackageTask(&recorder, task);
        Settle();
        return recorder.ResultFor(task);
    }

    // Waits for the transfer in progress and drops every task.
    void Settle() {
        manager->Shutdown();
        manager->StartWorker();
    }

    static std::string StorePath(const std::string& relative) { return StoreRoot() + "/" + relative; }
    static std::string StoredFile(const ContentFile& file) { return StorePath("files/" + ContentFileName(file)); }
    static void PutInStore(const ContentFile& file) { testsupport::WriteFile(StoredFile(file), file.bytes); }

    static std::vector<std::string> PartFiles() {
        std::vector<std::string> parts;
        for (const std::string& name : testsupport::ListFolder(StorePath("files"))) {
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) {
                parts.push_back(name);
            }
        }
        return parts;
    }

    // What a fresh manager finds in the index on disk.
    static bool IndexOnDiskHolds(const std::string& packageName) {
        PackageManager fromDisk(GetStoreFilesystem(), GetDirectoryStructure());
        fromDisk.Load();
        return fromDisk.FindPackage(HashName(packageName.c_str())) != nullptr;
    }

    static void Register(const std::string& packageName, const std::vector<ContentFile>& files) {
        MemoryFile record;
        const std::string bytes = repositorytest::PackageInfo(packageName, files);
        record.Write(bytes.data(), static_cast<int>(bytes.size()));
        record.Seek(0, FileClass::FromStart);
        ChunkReader reader(&record);
        PackageManager::GetInstance().AddPackage(reader);
    }

    static testsupport::TempDir* served;
    static testsupport::HttpServer* server;
    std::unique_ptr<repositorytest::PackageRepository> repository;
    std::string url;
    std::function<std::string(const std::string&)> fault;
    DownloadManager* manager = DownloadManager::GetInstance();
    DownloadTaskRegistry* registry = DownloadTaskRegistry::GetInstance();
};

testsupport::TempDir* PackageDownloadTaskTest::served = nullptr;
testsupport::HttpServer* PackageDownloadTaskTest::server = nullptr;

const ContentFile Readme{"ReadMe.txt", "read me\r\n"};
const ContentFile BigMap{"Data\\Big Map-\xC3\xA9.bin", Pattern(100 * 1024 + 7, 1)};
const ContentFile Rules{"rules.ini", "[rules]\r\nSpeed=3\r\n"};

TEST_F(PackageDownloadTaskTest, FetchesInfoAndMissingFilesThenRegistersAndSavesThePackage) {
    const std::string info = repository->Publish("Maps", {Readme, BigMap, Rules});
    PutInStore(Rules);

    Recorder recorder;
    PackageDownloadTask* task = Begin("Maps", recorder, url);
    ASSERT_TRUE(WaitForResult(recorder, task));
    EXPECT_TRUE(recorder.ResultFor(task));
    EXPECT_EQ(recorder.callingThread, std::this_thread::get_id());
    EXPECT_EQ(task->GetFileTaskCount(), 2);
    const uint32_t expected = static_cast<uint32_t>(info.size() + Readme.bytes.size() + BigMap.bytes.size());
    EXPECT_EQ(task->GetTotalBytes(), expected);
    EXPECT_EQ(task->GetReceivedBytes(), expected);
    registry->ReleasePackageTask(&recorder, task);

    for (const ContentFile& file : {Readme, BigMap, Rules}) {
        EXPECT_EQ(testsupport::ReadFile(StoredFile(file)), file.bytes) << file.name;
    }
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
    EXPECT_TRUE(IndexOnDiskHolds("Maps"));
}

TEST_F(PackageDownloadTaskTest, KnownCompletePackageSucceedsInsideStartWithoutTransfer) {
    Register("Maps", {Readme, Rules});
    PutInStore(Readme);
    PutInStore(Rules);

    Recorder recorder;
    PackageDownloadTask* task = Begin("MAPS", recorder, "http://127.0.0.1:1/nowhere");
    ASSERT_EQ(recorder.CountFor(task), 1);
    EXPECT_TRUE(recorder.ResultFor(task));
    EXPECT_EQ(task->GetInfoTask(), nullptr);
    EXPECT_EQ(task->GetFileTaskCount(), 0);
    EXPECT_EQ(task->GetTotalBytes(), 0u);
    registry->ReleasePackageTask(&recorder, task);
}

TEST_F(PackageDownloadTaskTest, UnknownPackageWhoseFilesArePresentFetchesOnlyTheInfoFile) {
    // The repository holds no content file: asking for one would fail.
    repository->PutInfo("Maps", repositorytest::PackageInfo("Maps", {Readme, Rules}));
    PutInStore(Readme);
    PutInStore(Rules);

    EXPECT_TRUE(Download("Maps", url));
    EXPECT_TRUE(IndexOnDiskHolds("Maps"));
}

TEST_F(PackageDownloadTaskTest, RequestsForTheSamePackageShareOneTaskUntilItHasFinished) {
    repository->Publish("Maps", {Readme, BigMap});
    Recorder first;
    Recorder second;
    PackageDownloadTask* task = Begin("Maps", first, url);
    ASSERT_EQ(Begin("maps", second, "http://127.0.0.1:1/ignored"), task);
    ASSERT_TRUE(WaitForResult(second, task));
    EXPECT_EQ(first.CountFor(task), 1);
    EXPECT_EQ(second.CountFor(task), 1);
    EXPECT_TRUE(first.ResultFor(task) && second.ResultFor(task));

    Recorder third;
    PackageDownloadTask* later = registry->AcquirePackageTask("Maps", url.c_str(), &third);
    EXPECT_NE(later, task);
    registry->ReleasePackageTask(&third, later);
    registry->ReleasePackageTask(&first, task);
    EXPECT_EQ(registry->GetPackageTaskCount(), 1);
    registry->ReleasePackageTask(&second, task);
}

TEST_F(PackageDownloadTaskTest, PackagesListingTheSameFileShareOneFileTask) {
    const ContentFile shared{"shared.bin", Pattern(8 * 1024, 2)};
    // Slow, so that it is still under way when the second package asks for it.
    repository->SetFault(shared, "slow");
    repository->Publish("Maps", {Readme, shared});
    repository->Publish("Units", {shared, Rules, shared});

    Recorder recorder;
    PackageDownloadTask* maps = Begin("Maps", recorder, url);
    PackageDownloadTask* units = Begin("Units", recorder, url);
    ASSERT_TRUE(UpdateUntil(*manager, [&] { return recorder.results.size() == 2; }));
    EXPECT_TRUE(recorder.ResultFor(maps) && recorder.ResultFor(units));
    ASSERT_EQ(maps->GetFileTaskCount(), 2);
    ASSERT_EQ(units->GetFileTaskCount(), 3);
    EXPECT_EQ(maps->GetFileTask(1), units->GetFileTask(0));
    EXPECT_EQ(units->GetFileTask(0), units->GetFileTask(2));
    // A file listed twice counts twice.
    EXPECT_EQ(units->GetReceivedBytes(),
              units->GetInfoTask()->receivedSize + 2 * shared.bytes.size() + Rules.bytes.size());
    registry->ReleasePackageTask(&recorder, maps);
    registry->ReleasePackageTask(&recorder, units);
    EXPECT_EQ(testsupport::ReadFile(StoredFile(shared)), shared.bytes);
}

TEST_F(PackageDownloadTaskTest, InfoFileThatDoesNotArriveWholeFailsWithoutTouchingTheManager) {
    repository->Publish("Maps", {Readme});
    for (const std::string& base : {url + "/missing", fault("status/204"), fault("status/500"), fault("drop")}) {
        SCOPED_TRACE(base);
        EXPECT_FALSE(Download("Maps", base));
        EXPECT_EQ(PackageManager::GetInstance().GetPackageCount(), 0);
        EXPECT_FALSE(testsupport::Exists(StorePath("packages.dat")));
        EXPECT_FALSE(testsupport::Exists(StoredFile(Readme)));
    }
}

TEST_F(PackageDownloadTaskTest, InfoFileOfAnotherPackageOrOfNoPackageFailsAndRegistersNothing) {
    for (const std::string& reply :
         {repositorytest::PackageInfo("Other", {Readme}), std::string("<html>Not here</html>"), std::string()}) {
        repository->PutInfo("Maps", reply);
        EXPECT_FALSE(Download("Maps", url));
        EXPECT_EQ(PackageManager::GetInstance().GetPackageCount(), 0);
        EXPECT_FALSE(testsupport::Exists(StorePath("packages.dat")));
    }
}

TEST_F(PackageDownloadTaskTest, MissingContentFileFailsAtOnceWhileTheOtherFilesGoOn) {
    const ContentFile missing{"missing.txt", "never published"};
    const ContentFile slow{"slow.bin", Pattern(16 * 1024, 3)};
    repository->SetFault(slow, "slow");
    repository->Publish("Maps", {missing, slow, Readme});
    std::filesystem::remove(repository->FilePath(missing));

    Recorder recorder;
    PackageDownloadTask* task = Begin("Maps", recorder, url);
    ASSERT_TRUE(WaitForResult(recorder, task));
    EXPECT_FALSE(recorder.ResultFor(task));
    ASSERT_EQ(task->GetFileTaskCount(), 3);
    EXPECT_FALSE(task->GetFileTask(1)->IsFinished());
    EXPECT_FALSE(testsupport::Exists(StorePath("files/" + ContentFileName(missing) + ".part")));

    ASSERT_TRUE(UpdateUntil(*manager, [&] { return task->GetFileTask(2)->IsFinished(); }));
    EXPECT_EQ(recorder.CountFor(task), 1);
    registry->ReleasePackageTask(&recorder, task);
    EXPECT_EQ(testsupport::ReadFile(StoredFile(slow)), slow.bytes);
    EXPECT_EQ(testsupport::ReadFile(StoredFile(Readme)), Readme.bytes);
    EXPECT_FALSE(testsupport::Exists(StoredFile(missing)));
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
    EXPECT_TRUE(IndexOnDiskHolds("Maps"));
}

// The announced length replaces the listed one in the total, but only the
// listed size makes the file whole.
TEST_F(PackageDownloadTaskTest, ProgressCountsListedSizesUntilTheServerAnswers) {
    const ContentFile slow{"slow.bin", Pattern(16 * 1024, 4)};
    ContentFile misListed{"later.txt", Pattern(5000, 5)};
    misListed.listedSize = 6000;
    repository->SetFault(slow, "slow");
    const std::string info = repository->Publish("Maps", {slow, misListed});

    Recorder recorder;
    PackageDownloadTask* task = Begin("Maps", recorder, url);
    ASSERT_TRUE(
        UpdateUntil(*manager, [&] { return task->GetFileTaskCount() == 2 && task->GetFileTask(0)->receivedSize > 0; }));
    EXPECT_EQ(task->GetTotalBytes(), info.size() + slow.bytes.size() + 6000);
    EXPECT_LT(task->GetReceivedBytes(), task->GetTotalBytes());
    ASSERT_TRUE(WaitForResult(recorder, task));
    EXPECT_FALSE(recorder.ResultFor(task));
    EXPECT_EQ(task->GetTotalBytes(), info.size() + slow.bytes.size() + misListed.bytes.size());
    EXPECT_EQ(task->GetReceivedBytes(), task->GetTotalBytes());
    registry->ReleasePackageTask(&recorder, task);
}

TEST_F(PackageDownloadTaskTest, ReleaseCancelsARunningFileTaskOnlyWhenNobodyElseWaitsForIt) {
    const ContentFile huge{"huge.bin", Pattern(256 * 1024, 6)};
    repository->SetFault(huge, "slow");
    repository->Publish("Maps", {huge});
    repository->Publish("Units", {huge});

    Recorder recorder;
    PackageDownloadTask* maps = Begin("Maps", recorder, url);
    PackageDownloadTask* units = Begin("Units", recorder, url);
    ASSERT_TRUE(UpdateUntil(*manager, [&] {
        return units->GetFileTaskCount() == 1 && maps->GetFileTaskCount() == 1 &&
               maps->GetFileTask(0)->receivedSize > 0;
    }));
    PackageFileDownloadTask* file = maps->GetFileTask(0);
    ASSERT_EQ(units->GetFileTask(0), file);
    file->AddRef();

    registry->ReleasePackageTask(&recorder, maps);
    EXPECT_FALSE(file->cancelled);
    registry->ReleasePackageTask(&recorder, units);
    EXPECT_TRUE(file->cancelled);
    const auto start = std::chrono::steady_clock::now();
    // The manager drops its reference once the transfer has stopped.
    EXPECT_TRUE(UpdateUntil(*manager, [&] { return file->GetRefCount() == 1; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    const size_t received = static_cast<size_t>(file->receivedSize);
    EXPECT_LT(received, huge.bytes.size());
    file->Release();
    EXPECT_TRUE(recorder.results.empty());
    EXPECT_FALSE(testsupport::Exists(StoredFile(huge)));
    // The file is still needed: what arrived waits for the next run.
    EXPECT_EQ(PartFiles(), std::vector<std::string>{ContentFileName(huge) + ".part"});
    EXPECT_TRUE(testsupport::ReadFile(StoredFile(huge) + ".part") == huge.bytes.substr(0, received));
}

TEST_F(PackageDownloadTaskTest, BodyWithoutContentLengthShorterThanListedIsNotStored) {
    // A connection that breaks in a body without a Content-Length looks like
    // its end; only the listed size tells the difference. What arrived stays
    // as the part file, for the next run to continue.
    repository->Publish("Maps", {Readme, BigMap});
    testsupport::WriteFile(repository->FilePath(BigMap), BigMap.bytes.substr(0, 60000));
    repository->SetFault(BigMap, "nolength");

    EXPECT_FALSE(Download("Maps", url));
    EXPECT_FALSE(testsupport::Exists(StoredFile(BigMap)));
    // (A listing spells the name in the system's code page, so only its
    // checksum is compared.)
    const std::vector<std::string> parts = PartFiles();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].substr(0, 9), ContentFileName(BigMap).substr(0, 9));
    EXPECT_TRUE(testsupport::ReadFile(StoredFile(BigMap) + ".part") == BigMap.bytes.substr(0, 60000));
}

// Only POSIX systems limit the size of the files a process writes.
#ifndef _WIN32

// Keeps the files this process writes below a size, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit saved{};
    sighandler_t previousHandler;
};

TEST_F(PackageDownloadTaskTest, ContentFileThatCannotBeWrittenWholeIsNotMovedIntoPlace) {
    repository->Publish("Maps", {Readme, BigMap});
    bool result = true;
    {
        FileSizeLimit limit(64 * 1024);
        result = Download("Maps", url);
    }
    EXPECT_FALSE(result);
    EXPECT_FALSE(testsupport::Exists(StoredFile(BigMap)));
    EXPECT_EQ(testsupport::ReadFile(StoredFile(Readme)), Readme.bytes);
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
}

#endif

TEST_F(PackageDownloadTaskTest, PartFileThatCannotBeMovedIntoPlaceFailsAndIsDeleted) {
    const ContentFile slow{"slow.bin", Pattern(8 * 1024, 7)};
    repository->SetFault(slow, "slow");
    repository->Publish("Maps", {slow});

    Recorder recorder;
    PackageDownloadTask* task = Begin("Maps", recorder, url);
    ASSERT_TRUE(
        UpdateUntil(*manager, [&] { return task->GetFileTaskCount() == 1 && task->GetFileTask(0)->receivedSize > 0; }));
    // Someone else puts a folder in the place the download is heading for; a
    // file there would simply be replaced by the checked one.
    testsupport::WriteFile(StoredFile(slow) + "/placed", "meanwhile");
    ASSERT_TRUE(WaitForResult(recorder, task));
    EXPECT_FALSE(recorder.ResultFor(task));
    registry->ReleasePackageTask(&recorder, task);
    Settle();
    EXPECT_EQ(testsupport::ReadFile(StoredFile(slow) + "/placed"), "meanwhile");
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
}

}  // namespace
