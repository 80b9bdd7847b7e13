// A repository server that misbehaves: the download command must end in
// bounded time with its failure message, leave no ".part" file behind but
// the start of a content file whose transfer broke off (which the next run
// continues), and never leave an incomplete file under a content file's
// final name.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <ostream>

#include "StoreFixture.h"
#include "support/HttpServer.h"

namespace {

using repositorytest::ContentFile;
using repositorytest::ContentFileName;
using repositorytest::InfoFileName;
using repositorytest::Pattern;
using testsupport::ListFolder;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using Clock = std::chrono::steady_clock;

const ContentFile Readme{"readme.txt", "read me\r\n"};
const ContentFile Field{"maps/field.bin", Pattern(300 * 1024 + 5, 3)};

// The URLs of the failing download, for the cause line.
struct FaultUrls {
    std::string info;
    std::string file;
};

struct FaultCase {
    const char* name;
    const char* repositoryFault;             // a fault prefix for the whole repository, or null
    const char* fileFault;                   // a fault of the large content file alone, or null
    int boundSeconds;                        // the command must have ended by then
    std::string (*cause)(const FaultUrls&);  // the line under the failure line
    // The large file's part file keeps the start that arrived (a reset may
    // lose what was on its way, so there it may be gone too).
    enum { NoPart, StartKept, StartMayBeKept } part = NoPart;
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

std::string Broke(const std::string& url) {
    return "Could not fetch '" + url + "': the connection broke before the whole file had arrived.";
}

// A server that falls silent is given up after 60 s without data.
const FaultCase Cases[] = {
    {"StallDuringAContentFile", nullptr, "stall", 100,
     [](const FaultUrls& urls) { return "Could not fetch '" + urls.file + "': no data arrived for 60 s."; }},
    {"ResetDuringTheInfoFile", "reset", nullptr, 30, [](const FaultUrls& urls) { return Broke(urls.info); }},
    {"ResetDuringAContentFile", nullptr, "reset", 30, [](const FaultUrls& urls) { return Broke(urls.file); },
     FaultCase::StartMayBeKept},
    {"DropDuringAContentFile", nullptr, "drop", 30, [](const FaultUrls& urls) { return Broke(urls.file); },
     FaultCase::StartKept},
    {"RedirectLoop", "loop", nullptr, 30,
     [](const FaultUrls& urls) {
         return "Could not fetch '" + urls.info + "': the server redirected more than 10 times.";
     }},
    // The server announces less than it sends, so the announced bytes are
    // not the listed file: the whole answer of another size is no start of
    // it to continue.
    {"ShortLengthOfAContentFile", nullptr, "short", 30,
     [](const FaultUrls&) {
         return "The content file 'files/" + ContentFileName(Field) + "' arrived with " +
                std::to_string(Field.bytes.size() - 100) + " bytes; the package lists it at " +
                std::to_string(Field.bytes.size()) + ".";
     }},
    {"ShortLengthOfEveryFile", "short", nullptr, 30,
     [](const FaultUrls& urls) {
         return "The package-info file '" + urls.info + "' does not describe package 'Maps'.";
     }},
};

class DownloadFaultTest : public StoreFixture, public ::testing::WithParamInterface<FaultCase> {
protected:
    static void SetUpTestSuite() {
        Served = new testsupport::TempDir;
        Server = new testsupport::HttpServer(Served->Path(), 900);
    }
    static void TearDownTestSuite() {
        delete Server;
        delete Served;
    }

    void SetUp() override {
        ASSERT_TRUE(Server->IsRunning()) << "the loopback HTTP server did not start";
        static int repositoryNumber = 0;
        Repository = "repo" + std::to_string(++repositoryNumber);
        Published = std::make_unique<repositorytest::PackageRepository>(*Served / Repository);
        Published->Publish("Maps", {Readme, Field});
    }

    std::string BaseUrl(const char* fault) const {
        return Server->BaseUrl() + (fault != nullptr ? "/_" + std::string(fault) : "") + "/" + Repository;
    }

    // Every file in the content folder must be one of the published ones,
    // whole, or the large one's part file with its start.
    void ExpectOnlyWholeContent(int part = FaultCase::NoPart) const {
        const std::string partName = ContentFileName(Field) + ".part";
        const std::vector<std::string> parts = PartFiles();
        if (part == FaultCase::StartKept || (part == FaultCase::StartMayBeKept && !parts.empty())) {
            ASSERT_EQ(parts, std::vector<std::string>{partName});
            const std::string start = ReadFile(StorePath("files/" + partName));
            EXPECT_FALSE(start.empty());
            EXPECT_LT(start.size(), Field.bytes.size());
            EXPECT_TRUE(Field.bytes.compare(0, start.size(), start) == 0);
        } else {
            EXPECT_EQ(parts, std::vector<std::string>{});
        }
        for (const std::string& name : ListFolder(StorePath("files"))) {
            if (name == partName) {
                continue;
            }
            const bool whole =
                (name == ContentFileName(Readme) && ReadFile(StorePath("files/" + name)) == Readme.bytes) ||
                (name == ContentFileName(Field) && ReadFile(StorePath("files/" + name)) == Field.bytes);
            EXPECT_TRUE(whole) << "files/" << name << " is not a whole content file";
        }
    }

    static testsupport::TempDir* Served;
    static testsupport::HttpServer* Server;
    std::string Repository;
    std::unique_ptr<repositorytest::PackageRepository> Published;
};

testsupport::TempDir* DownloadFaultTest::Served = nullptr;
testsupport::HttpServer* DownloadFaultTest::Server = nullptr;

TEST_P(DownloadFaultTest, EndsWithTheFailureMessageInBoundedTimeLeavingOnlyWholeFiles) {
    const FaultCase& fault = GetParam();
    if (fault.fileFault != nullptr) {
        Published->SetFault(Field, fault.fileFault);
    }
    const std::string url = BaseUrl(fault.repositoryFault);
    const Clock::time_point started = Clock::now();
    const ProgramResult result = Run({"download", "Maps", url}, fault.boundSeconds + 30);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    EXPECT_LT(seconds, fault.boundSeconds);
    EXPECT_EQ(result.exitCode, 1);
    const FaultUrls urls{url + "/packages/" + InfoFileName("Maps"), url + "/files/" + ContentFileName(Field)};
    EXPECT_EQ(result.err,
              "Failed to download package 'Maps' from repository '" + url + "'.\r\n" + fault.cause(urls) + "\r\n");
    EXPECT_EQ(result.out.find("successfully"), std::string::npos);
    ExpectOnlyWholeContent(fault.part);
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFaultTest, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// Bytes beyond the announced length are never read, as with any HTTP client;
// what was announced is the listed file, so the download stands.
TEST_F(DownloadFaultTest, BytesBeyondTheAnnouncedLengthNeverReachTheStore) {
    Published->SetFault(Field, "extra");
    const ProgramResult result = Run({"download", "Maps", BaseUrl(nullptr)}, 60);
    EXPECT_NE(result.out.find("Package 'Maps' was successfully downloaded and installed.\r\n"), std::string::npos)
        << result.out << result.err;
    EXPECT_TRUE(ReadFile(StorePath("files/" + ContentFileName(Field))) == Field.bytes);
    ExpectOnlyWholeContent();
}

// A package-info file cut short by a wrong announced length must not be
// registered: its record would list only some of the package's files.
TEST_F(DownloadFaultTest, AnInfoFileCutShortIsNotRegistered) {
    testsupport::WriteFile(*Served / (Repository + "/packages/" + InfoFileName("Maps") + ".fault"), "short");
    const std::string url = BaseUrl(nullptr);
    const ProgramResult result = Run({"download", "Maps", url}, 60);
    EXPECT_EQ(result.err, "Failed to download package 'Maps' from repository '" + url +
                              "'.\r\nThe package-info file '" + url + "/packages/" + InfoFileName("Maps") +
                              "' does not describe package 'Maps'.\r\n");
    EXPECT_EQ(InstalledNames(), std::vector<std::string>{});
    ExpectOnlyWholeContent();
}

// A file that is not the listed one, though of the listed size, must not be
// stored under the name every package with that checksum shares.
TEST_F(DownloadFaultTest, AContentFileThatIsNotTheListedOneFailsTheDownload) {
    std::string altered = Field.bytes;
    altered[altered.size() / 2] ^= 0x01;
    testsupport::WriteFile(Published->FilePath(Field), altered);
    const std::string url = BaseUrl(nullptr);
    const ProgramResult result = Run({"download", "Maps", url}, 60);
    char crcs[64];
    std::snprintf(crcs, sizeof crcs, "%08X; the package lists %08X", repositorytest::Crc(altered),
                  repositorytest::Crc(Field.bytes));
    EXPECT_EQ(result.err, "Failed to download package 'Maps' from repository '" + url +
                              "'.\r\nThe content file 'files/" + ContentFileName(Field) + "' arrived with the CRC-32 " +
                              crcs + ".\r\n");
    EXPECT_FALSE(testsupport::Exists(StorePath("files/" + ContentFileName(Field))));
    ExpectOnlyWholeContent();
}

}  // namespace
