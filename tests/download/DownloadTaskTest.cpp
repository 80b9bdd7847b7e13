#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "download/DownloadManager.h"
#include "download/DownloadTask.h"
#include "download/DownloadTestHelpers.h"
#include "download/InternetHandle.h"
#include "support/HttpServer.h"
#include "support/TestSupport.h"

using downloadtest::ResultRecorder;
using downloadtest::UpdateUntil;

namespace {

// Keeps what the transfer hands over, and on which thread.
class RecordingTask : public DownloadTask {
public:
    explicit RecordingTask(const std::string& address, uint32_t presetTotal = 0) {
        url = address.c_str();
        totalSize = presetTotal;
    }

    void OnStart() override {
        ++starts;
        workerThread = std::this_thread::get_id();
    }
    void OnFinish() override { ++finishes; }
    void OnData(const char* data, int length) override {
        body.append(data, static_cast<size_t>(length));
        blocks.push_back(length);
        if (blocks.size() == cancelAfterBlocks) {
            cancelled = true;
        }
    }

    int starts = 0;
    int finishes = 0;
    std::string body;
    std::vector<int> blocks;
    size_t cancelAfterBlocks = 0;
    std::thread::id workerThread;
};

std::string RandomBytes(size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class DownloadTaskTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new testsupport::TempDir;
        bigFile = RandomBytes(300 * 1024 + 123, 1);
        testsupport::WriteFile(*folder / "big.bin", bigFile);
        testsupport::WriteFile(*folder / "slow.bin", RandomBytes(100 * 1024, 2));
        testsupport::WriteFile(*folder / "small.txt", "hello, repository\n");
        testsupport::WriteFile(*folder / "empty.bin", "");
        server = new testsupport::HttpServer(folder->Path(), 120);
    }

    static void TearDownTestSuite() {
        delete server;
        delete folder;
    }

    void SetUp() override { ASSERT_TRUE(server->IsRunning()) << "the loopback HTTP server did not start"; }

    static std::string Url(const std::string& path) { return server->BaseUrl() + path; }

    static testsupport::TempDir* folder;
    static testsupport::HttpServer* server;
    static std::string bigFile;
};

testsupport::TempDir* DownloadTaskTest::folder = nullptr;
testsupport::HttpServer* DownloadTaskTest::server = nullptr;
std::string DownloadTaskTest::bigFile;

TEST_F(DownloadTaskTest, FailedRequestsDeliverNoData) {
    const char* const paths[] = {
        "/_status/404/file.bin", "/_status/204/file.bin", "/_status/500/file.bin",
        "/_status/201/file.bin", "/missing.bin",          "/_loop/file.bin",
    };
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        RecordingTask task(Url(path), 7);
        task.Run();
        EXPECT_FALSE(task.succeeded);
        EXPECT_TRUE(task.blocks.empty());
        EXPECT_EQ(0, task.receivedSize);
        EXPECT_EQ(7u, task.totalSize);
        EXPECT_EQ(1, task.starts);
        EXPECT_EQ(1, task.finishes);
    }
}

TEST_F(DownloadTaskTest, UnreachableOrMalformedUrlFails) {
    for (const std::string& address : {std::string("http://127.0.0.1:1/file.bin"), std::string("not a url"),
                                       std::string("ftp://127.0.0.1/file.bin")}) {
        SCOPED_TRACE(address);
        RecordingTask task(address);
        task.Run();
        EXPECT_FALSE(task.succeeded);
        EXPECT_TRUE(task.blocks.empty());
        EXPECT_EQ(1, task.finishes);
    }
}

TEST_F(DownloadTaskTest, ZeroLengthFileSucceedsWithoutData) {
    RecordingTask task(Url("/empty.bin"), 99);
    task.Run();
    EXPECT_TRUE(task.succeeded);
    EXPECT_TRUE(task.blocks.empty());
    EXPECT_EQ(0, task.receivedSize);
    EXPECT_EQ(0u, task.totalSize);
}

TEST_F(DownloadTaskTest, FileArrivesWholeInBlocksOfAtMost32KiB) {
    RecordingTask task(Url("/big.bin"));
    task.Run();
    EXPECT_TRUE(task.succeeded);
    EXPECT_TRUE(task.body == bigFile);
    EXPECT_EQ(static_cast<int32_t>(bigFile.size()), task.receivedSize);
    EXPECT_EQ(bigFile.size(), task.totalSize);
    for (int length : task.blocks) {
        EXPECT_GT(length, 0);
        EXPECT_LE(length, 32768);
    }
}

TEST_F(DownloadTaskTest, MissingContentLengthKeepsPresetTotal) {
    RecordingTask task(Url("/_nolength/big.bin"), 1234);
    task.Run();
    EXPECT_TRUE(task.succeeded);
    EXPECT_TRUE(task.body == bigFile);
    EXPECT_EQ(1234u, task.totalSize);
}

TEST_F(DownloadTaskTest, ConnectionDroppedBeforeAnnouncedLengthFails) {
    RecordingTask task(Url("/_drop/big.bin"));
    task.Run();
    EXPECT_FALSE(task.succeeded);
    EXPECT_EQ(bigFile.size(), task.totalSize);
    EXPECT_LT(task.body.size(), bigFile.size());
    EXPECT_EQ(static_cast<int32_t>(task.body.size()), task.receivedSize);
    EXPECT_EQ(1, task.finishes);
}

TEST_F(DownloadTaskTest, BytesBeyondAnnouncedLengthAreNotDelivered) {
    RecordingTask task(Url("/_extra/small.txt"));
    task.Run();
    EXPECT_TRUE(task.succeeded);
    EXPECT_EQ("hello, repository\n", task.body);
}

TEST_F(DownloadTaskTest, RedirectIsFollowed) {
    RecordingTask task(Url("/_redirect/_redirect/small.txt"));
    task.Run();
    EXPECT_TRUE(task.succeeded);
    EXPECT_EQ("hello, repository\n", task.body);
}

TEST_F(DownloadTaskTest, CancelDuringSlowTransferStopsAfterCurrentBlock) {
    RecordingTask task(Url("/_slow/slow.bin"));
    task.cancelAfterBlocks = 2;
    ResultRecorder<RecordingTask> recorder;
    task.AddObserver(&recorder);
    const auto start = std::chrono::steady_clock::now();

    task.Run();

    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_FALSE(task.succeeded);
    EXPECT_EQ(2u, task.blocks.size());
    EXPECT_EQ(static_cast<int32_t>(task.body.size()), task.receivedSize);
    task.Complete();
    ASSERT_EQ(1u, recorder.results.size());
    EXPECT_FALSE(recorder.results[0].second);
}

TEST_F(DownloadTaskTest, CancelReachesTransferWaitingOnSilentServer) {
    RecordingTask task(Url("/_stall/big.bin"));
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        task.cancelled = true;
    });
    const auto start = std::chrono::steady_clock::now();
    task.Run();
    const double elapsed = SecondsSince(start);
    canceller.join();
    EXPECT_LT(elapsed, 3.0);
    EXPECT_FALSE(task.succeeded);
    EXPECT_TRUE(task.blocks.empty());
    EXPECT_EQ(1, task.finishes);
}

TEST_F(DownloadTaskTest, RequestCarriesTheUserAgent) {
    EXPECT_STREQ("4.00.unofficial-20111208", GetVersionString());
    RecordingTask task(Url("/_agent"));
    task.Run();
    EXPECT_TRUE(task.succeeded);
    EXPECT_EQ("Quillbox/4.00.unofficial-20111208", task.body);
}

TEST_F(DownloadTaskTest, ConsecutiveTransfersReuseTheConnection) {
    RecordingTask first(Url("/_peer"));
    RecordingTask second(Url("/_peer"));
    first.Run();
    second.Run();
    ASSERT_TRUE(first.succeeded && second.succeeded);
    EXPECT_FALSE(first.body.empty());
    EXPECT_EQ(first.body, second.body);
}

TEST_F(DownloadTaskTest, ProxySettingsOfTheEnvironmentAreIgnored) {
    const char* const names[] = {"http_proxy", "HTTP_PROXY", "ALL_PROXY", "all_proxy"};
    for (const char* name : names) {
        testsupport::SetEnvironmentValue(name, "http://127.0.0.1:9");
    }
    RecordingTask task(Url("/small.txt"));
    task.Run();
    for (const char* name : names) {
        testsupport::RemoveEnvironmentValue(name);
    }
    EXPECT_TRUE(task.succeeded);
    EXPECT_EQ("hello, repository\n", task.body);
}

TEST_F(DownloadTaskTest, TransfersRunOnTheWorkerAndCompleteOnThePollingThread) {
    DownloadManager manager;
    manager.StartWorker();
    ResultRecorder<RecordingTask> recorder;
    RecordingTask* tasks[] = {new RecordingTask(Url("/small.txt")), new RecordingTask(Url("/big.bin")),
                              new RecordingTask(Url("/missing.bin"))};
    for (RecordingTask* task : tasks) {
        task->AddObserver(&recorder);
        manager.AddTask(task);
    }

    ASSERT_TRUE(UpdateUntil(manager, [&] { return recorder.results.size() == 3; }));

    EXPECT_TRUE(recorder.ResultFor(tasks[0]));
    EXPECT_TRUE(recorder.ResultFor(tasks[1]));
    EXPECT_FALSE(recorder.ResultFor(tasks[2]));
    EXPECT_TRUE(tasks[1]->body == bigFile);
    EXPECT_NE(std::this_thread::get_id(), tasks[0]->workerThread);
    EXPECT_EQ(std::this_thread::get_id(), recorder.callingThread);
    manager.Shutdown();
    for (RecordingTask* task : tasks) {
        EXPECT_EQ(1, task->GetRefCount());
        task->Release();
    }
}

// An observer that detaches itself, and optionally another one, when told.
class DetachingObserver : public DownloadTaskObserver<RecordingTask> {
public:
    void OnDownloadFinished(RecordingTask* task, bool succeeded) override {
        results.push_back(succeeded);
        task->RemoveObserver(this);
        if (alsoRemove != nullptr) {
            task->RemoveObserver(alsoRemove);
        }
    }

    std::vector<bool> results;
    DetachingObserver* alsoRemove = nullptr;
};

TEST_F(DownloadTaskTest, ObserversDetachingDuringCompleteDoNotDisturbTheOthers) {
    RecordingTask task("http://127.0.0.1:1/unused");
    DetachingObserver first;
    DetachingObserver second;
    DetachingObserver third;
    second.alsoRemove = &third;
    task.AddObserver(&first);
    task.AddObserver(&second);
    task.AddObserver(&third);
    task.succeeded = true;

    task.Complete();

    EXPECT_EQ(std::vector<bool>{true}, first.results);
    EXPECT_EQ(std::vector<bool>{true}, second.results);
    EXPECT_EQ(std::vector<bool>{true}, third.results);
    EXPECT_EQ(0, task.GetObserverCount());
}

TEST_F(DownloadTaskTest, CancelAfterTheLastBlockStillReportsFailure) {
    RecordingTask task(Url("/small.txt"));
    ResultRecorder<RecordingTask> recorder;
    task.AddObserver(&recorder);
    task.Run();
    ASSERT_TRUE(task.succeeded);
    task.cancelled = true;
    task.Complete();
    ASSERT_EQ(1u, recorder.results.size());
    EXPECT_FALSE(recorder.results[0].second);
}

}  // namespace
