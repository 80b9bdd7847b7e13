// A download cut short leaves its part file, and the next run asks only for
// the rest: the server's log of each request (its Range header, status and
// the body bytes it sent) shows what the second run fetched. Whatever is
// continued, the whole file's checksum decides, and at most one part file
// of a content file is ever there.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "StoreFixture.h"
#include "support/HttpServer.h"

namespace {

using repositorytest::ContentFile;
using repositorytest::ContentFileName;
using repositorytest::Pattern;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::WriteFile;

const ContentFile Readme{"readme.txt", "read me\r\n"};
const ContentFile Field{"maps/field.bin", Pattern(300 * 1024 + 5, 7)};
const int64_t FieldSize = static_cast<int64_t>(Field.bytes.size());

// One request as the server logged it.
struct Request {
    std::string range;  // "-" without a Range header
    int status = 0;
    int64_t bytes = 0;
};

class DownloadResumeTest : public StoreFixture {
protected:
    static void SetUpTestSuite() {
        Served = new testsupport::TempDir;
        Server = new testsupport::HttpServer(Served->Path(), 600);
    }
    static void TearDownTestSuite() {
        delete Server;
        delete Served;
    }

    void SetUp() override {
        ASSERT_TRUE(Server->IsRunning()) << "the loopback HTTP server did not start";
        static int repositoryNumber = 0;
        const std::string name = "repo" + std::to_string(++repositoryNumber);
        Published = std::make_unique<repositorytest::PackageRepository>(*Served / name);
        InfoSize = static_cast<int64_t>(Published->Publish("Maps", {Readme, Field}).size());
        Url = Server->BaseUrl() + "/" + name;
        RedirectedUrl = Server->BaseUrl() + "/_redirect/" + name;
        WriteFile(Published->FilePath(Field) + ".log", "");
    }

    // The server's options for the large file ("cut 1000", "norange"), none
    // when empty.
    void ServeField(const std::string& options) const {
        const std::string sidecar = Published->FilePath(Field) + ".fault";
        if (options.empty()) {
            std::filesystem::remove(sidecar);
        } else {
            WriteFile(sidecar, options);
        }
    }

    // The requests of the large file since the last call.
    std::vector<Request> FieldRequests() {
        const std::string log = ReadFile(Published->FilePath(Field) + ".log");
        std::vector<Request> requests;
        std::istringstream lines(log.substr(LogRead));
        LogRead = log.size();
        Request request;
        while (lines >> request.range >> request.status >> request.bytes) {
            requests.push_back(request);
        }
        return requests;
    }

    ProgramResult Download(const std::string& url = "") const {
        return Run({"download", "Maps", url.empty() ? Url : url}, 90);
    }

    void ExpectFailed(const ProgramResult& result) const {
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err.rfind("Failed to download package 'Maps' from repository '" + Url + "'.\r\n", 0), 0u)
            << result.err;
    }

    // The last progress line of a successful run, which counts the whole
    // file, also what the part file held.
    void ExpectDownloaded(const ProgramResult& result, int64_t lastProgress) const {
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_NE(result.out.find("Package 'Maps' was successfully downloaded and installed.\r\n"), std::string::npos);
        EXPECT_TRUE(ReadFile(StorePath("files/" + ContentFileName(Field))) == Field.bytes);
        EXPECT_EQ(PartFiles(), std::vector<std::string>{});
        char progress[96];
        std::snprintf(progress, sizeof progress, "Progress: %" PRId64 " / %" PRId64 " bytes (100%%)\r", lastProgress,
                      lastProgress);
        EXPECT_NE(result.out.find(progress), std::string::npos) << result.out;
    }

    // The one part file of the large file holds its first `size` bytes.
    void ExpectPartFileOf(size_t size) const {
        ASSERT_EQ(PartFiles(), std::vector<std::string>{UsualPartName()});
        EXPECT_TRUE(ReadFile(StorePath("files/" + UsualPartName())) == Field.bytes.substr(0, size));
    }

    static std::string UsualPartName() { return ContentFileName(Field) + ".part"; }

    static testsupport::TempDir* Served;
    static testsupport::HttpServer* Server;
    std::unique_ptr<repositorytest::PackageRepository> Published;
    std::string Url;
    std::string RedirectedUrl;  // every file through a redirect
    int64_t InfoSize = 0;
    size_t LogRead = 0;
};

testsupport::TempDir* DownloadResumeTest::Served = nullptr;
testsupport::HttpServer* DownloadResumeTest::Server = nullptr;

// The second run asks for the rest and fetches only what was missing, also
// through a redirect; a stale part file under the other part name goes too.
TEST_F(DownloadResumeTest, CutMidwayThenResumedFetchingOnlyTheRest) {
    const int64_t cut = 100000;
    ServeField("cut " + std::to_string(cut));
    ExpectFailed(Download());
    ExpectPartFileOf(cut);
    ASSERT_EQ(FieldRequests().size(), 1u);

    ServeField("");
    WriteFile(StorePath("files/~" + UsualPartName()), "stale");
    ExpectDownloaded(Download(RedirectedUrl), FieldSize);
    const std::vector<Request> second = FieldRequests();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].range, "bytes=" + std::to_string(cut) + "-");
    EXPECT_EQ(second[0].status, 206);
    EXPECT_EQ(second[0].bytes, FieldSize - cut);
    std::printf("[ resumed  ] the second run fetched %" PRId64 " of %" PRId64 " bytes\n", second[0].bytes, FieldSize);
}

// A server that answers a Range request with the whole file: the part file
// starts over, and there is never more than the one.
TEST_F(DownloadResumeTest, ServerIgnoringTheRangeStartsTheFileOver) {
    ServeField("cut 100000");
    ExpectFailed(Download());
    ExpectPartFileOf(100000);

    ServeField("norange cut 60000");
    ExpectFailed(Download());
    ExpectPartFileOf(60000);
    std::vector<Request> requests = FieldRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, "bytes=100000-");
    EXPECT_EQ(requests[1].status, 200);

    ServeField("norange");
    ExpectDownloaded(Download(), FieldSize);
    requests = FieldRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "bytes=60000-");
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_EQ(requests[0].bytes, FieldSize);
}

// The bytes a part file holds count into the checksum: wrong ones make the
// continued file fail it, and it is fetched once more from the start in the
// same run.
TEST_F(DownloadResumeTest, PartFileWithWrongBytesIsFetchedAgainFromTheStart) {
    ServeField("cut 1000");
    ExpectFailed(Download());
    FieldRequests();
    std::string wrong = Field.bytes.substr(0, 150000);
    wrong[70000] ^= 0x20;
    WriteFile(StorePath("files/" + UsualPartName()), wrong);

    ServeField("");
    ExpectDownloaded(Download(), FieldSize);
    const std::vector<Request> requests = FieldRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=150000-");
    EXPECT_EQ(requests[0].status, 206);
    EXPECT_EQ(requests[1].range, "-");
    EXPECT_EQ(requests[1].status, 200);
    EXPECT_EQ(requests[1].bytes, FieldSize);
}

// A part file longer than the server's file (416 to the request for the
// rest) is no start of it: the file is fetched from the start in the same
// run, and a whole answer of another size leaves no part file to get stuck on.
TEST_F(DownloadResumeTest, PartFileBeyondTheServersFileStartsOverAndLeavesNothing) {
    ServeField("cut 1000");
    ExpectFailed(Download());
    FieldRequests();
    WriteFile(StorePath("files/" + UsualPartName()), Field.bytes.substr(0, 150000));
    WriteFile(Published->FilePath(Field), Field.bytes.substr(0, 100000));

    ServeField("");
    const ProgramResult cut = Download();
    ExpectFailed(cut);
    EXPECT_NE(cut.err.find("arrived with 100000 bytes; the package lists it at " + std::to_string(FieldSize) + "."),
              std::string::npos)
        << cut.err;
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});
    std::vector<Request> requests = FieldRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=150000-");
    EXPECT_EQ(requests[0].status, 416);
    EXPECT_EQ(requests[1].range, "-");

    WriteFile(Published->FilePath(Field), Field.bytes);
    ExpectDownloaded(Download(), FieldSize);
    requests = FieldRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "-");
}

// Each run continues the part file the one before left, under one name.
TEST_F(DownloadResumeTest, ThreeInterruptionsLeaveOnePartFile) {
    int64_t fetched = 0;
    for (const size_t cut : {60000u, 120000u, 180000u}) {
        SCOPED_TRACE(cut);
        ServeField("cut " + std::to_string(cut));
        ExpectFailed(Download());
        ExpectPartFileOf(cut);
        for (const Request& request : FieldRequests()) {
            fetched += request.bytes;
        }
    }
    ServeField("");
    ExpectDownloaded(Download(), FieldSize);
    for (const Request& request : FieldRequests()) {
        EXPECT_EQ(request.range, "bytes=180000-");
        fetched += request.bytes;
    }
    EXPECT_EQ(fetched, FieldSize);
}

// Part files beside a file that is whole in the store are deleted by the
// next download, but for one whose bytes have the checksum of its name: that
// may be another package's content file of that name.
TEST_F(DownloadResumeTest, PartFilesOfAWholeFileAreDeletedButNoFileOfAContentName) {
    ExpectDownloaded(Download(), InfoSize + static_cast<int64_t>(Readme.bytes.size()) + FieldSize);
    const std::string usual = StorePath("files/" + UsualPartName());
    const std::string other = StorePath("files/~" + UsualPartName());
    WriteFile(usual, Field.bytes.substr(0, 1000));
    WriteFile(other, Field.bytes.substr(0, 2000));
    EXPECT_EQ(Download().exitCode, 0);
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});

    WriteFile(usual, Field.bytes);
    EXPECT_EQ(Download().exitCode, 0);
    EXPECT_EQ(PartFiles(), std::vector<std::string>{UsualPartName()});
    EXPECT_TRUE(ReadFile(usual) == Field.bytes);
}

}  // namespace
