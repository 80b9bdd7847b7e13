#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/PackageRepository.h"
#include "platform/Crypto.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"
#include "support/Openssl.h"
#include "support/ProgramCopy.h"
#include "support/TestSupport.h"

namespace {

using repositorytest::ContentFile;
using repositorytest::ContentFileName;
using repositorytest::Crc;
using repositorytest::InfoFileName;
using repositorytest::Pattern;
using testsupport::Exists;
using testsupport::ListFolder;
using testsupport::MapsTwin;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::TempDir;

struct Progress {
    uint64_t received = 0;
    uint64_t total = 0;
};

// Splits standard output into its progress lines and the text after them.
// Each line must be exactly what the progress rules give for its numbers:
// no percentage while the total is 0, else the truncated percentage.
::testing::AssertionResult SplitOutput(const std::string& out, std::vector<Progress>& lines, std::string& tail) {
    const std::string prefix = "Progress: ";
    size_t at = 0;
    while (out.compare(at, prefix.size(), prefix) == 0) {
        const size_t end = out.find('\r', at);
        if (end == std::string::npos) {
            return ::testing::AssertionFailure() << "unterminated progress line at " << at;
        }
        const std::string line = out.substr(at, end + 1 - at);
        Progress progress;
        if (std::sscanf(line.c_str(), "Progress: %" SCNu64 " / %" SCNu64, &progress.received, &progress.total) != 2) {
            return ::testing::AssertionFailure() << "unreadable progress line " << line;
        }
        char expected[128];
        if (progress.total == 0) {
            std::snprintf(expected, sizeof expected, "Progress: %" PRIu64 " / %" PRIu64 " bytes\r", progress.received,
                          progress.total);
        } else {
            std::snprintf(expected, sizeof expected, "Progress: %" PRIu64 " / %" PRIu64 " bytes (%" PRIu64 "%%)\r",
                          progress.received, progress.total, progress.received * 100 / progress.total);
        }
        if (line != expected) {
            return ::testing::AssertionFailure() << "progress line " << line << " instead of " << expected;
        }
        lines.push_back(progress);
        at = end + 1;
    }
    tail = out.substr(at);
    return ::testing::AssertionSuccess();
}

std::string SuccessText(const std::string& typedName) {
    return "Package '" + typedName + "' was successfully downloaded and installed.\r\n";
}

std::string FailureText(const std::string& typedName, const std::string& typedUrl) {
    return "Failed to download package '" + typedName + "' from repository '" + typedUrl + "'.\r\n";
}

// A copy of the program in a fresh folder, with its store below that folder,
// downloading from a loopback server that the whole suite shares.
class DownloadCommandTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        served = new TempDir;
        server = new testsupport::HttpServer(served->Path(), 600);
    }
    static void TearDownTestSuite() {
        delete server;
        delete served;
    }

    void SetUp() override {
        ASSERT_TRUE(server->IsRunning()) << "the loopback HTTP server did not start";
        static int repositoryNumber = 0;
        repositoryName = "repo" + std::to_string(++repositoryNumber);
        repository = std::make_unique<repositorytest::PackageRepository>(*served / repositoryName);
        url = server->BaseUrl() + "/" + repositoryName;
        Install(Folder);
    }

    std::string Fault(const std::string& word) const { return server->BaseUrl() + "/_" + word + "/" + repositoryName; }

    static void Install(const TempDir& folder) { testsupport::CopyProgramInto(folder.Path()); }

    static ProgramResult Run(const TempDir& folder, const std::vector<std::string>& arguments) {
        return testsupport::RunProgram(folder / "Quillbox", arguments, folder.Path(), {"HOME=" + folder.Path()});
    }
    ProgramResult Run(const std::vector<std::string>& arguments) const { return Run(Folder, arguments); }

    static std::string StoreOf(const TempDir& folder) {
        return std::filesystem::canonical(folder.Path()).string() + "/Ironveil/Ironveil/mofs";
    }
    std::string StoredFile(const ContentFile& file) const {
        return StoreOf(Folder) + "/files/" + ContentFileName(file);
    }

    // Names with ".part" in them that are not the content files listed.
    std::vector<std::string> PartFiles(const std::vector<ContentFile>& listed = {}) const {
        std::vector<std::string> parts;
        for (const std::string& name : ListFolder(StoreOf(Folder) + "/files")) {
            const auto isListed = [&](const ContentFile& file) { return ContentFileName(file) == name; };
            if (name.find(".part") != std::string::npos && std::none_of(listed.begin(), listed.end(), isListed)) {
                parts.push_back(name);
            }
        }
        return parts;
    }

    // Runs the command and splits its output; the progress lines must be well formed.
    ProgramResult Download(const std::string& name, const std::string& base, std::vector<Progress>& lines,
                           std::string& tail, int exitCode = 0) const {
        const ProgramResult result = Run({"download", name, base});
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_TRUE(SplitOutput(result.out, lines, tail));
        EXPECT_FALSE(lines.empty());
        return result;
    }

    // The last progress line shows the bytes received and the total, which
    // lacks what arrived without a Content-Length or a listed size.
    void ExpectSuccess(const std::string& name, const std::string& base, const std::vector<ContentFile>& files,
                       uint64_t expectedReceived, uint64_t unknownSize = 0) {
        std::vector<Progress> lines;
        std::string tail;
        const ProgramResult result = Download(name, base, lines, tail);
        EXPECT_EQ(tail, SuccessText(name));
        EXPECT_EQ(result.err, "");
        ASSERT_FALSE(lines.empty());
        for (size_t index = 1; index < lines.size(); ++index) {
            EXPECT_GE(lines[index].received, lines[index - 1].received);
        }
        EXPECT_EQ(lines.back().received, expectedReceived);
        EXPECT_EQ(lines.back().total, expectedReceived - unknownSize);
        for (const ContentFile& file : files) {
            EXPECT_TRUE(ReadFile(StoredFile(file)) == file.bytes) << file.name;
        }
        EXPECT_EQ(PartFiles(files), std::vector<std::string>{});
    }

    // Returns the last progress line. Whatever the failure, one line under
    // the failure line says why.
    Progress ExpectFailure(const std::string& name, const std::string& base) {
        std::vector<Progress> lines;
        std::string tail;
        const ProgramResult result = Download(name, base, lines, tail, 1);
        EXPECT_EQ(tail, "");
        const std::string failure = FailureText(name, base);
        EXPECT_EQ(result.err.substr(0, failure.size()), failure);
        const std::string cause = result.err.substr(std::min(failure.size(), result.err.size()));
        EXPECT_TRUE(cause.size() > 3 && cause.find("\r\n") == cause.size() - 2 &&
                    cause.compare(cause.size() - 3, 3, ".\r\n") == 0)
            << "not one cause line under the failure line: " << result.err;
        EXPECT_EQ(PartFiles(), std::vector<std::string>{});
        return lines.empty() ? Progress{} : lines.back();
    }

    // A failure whose cause the line under the failure line names.
    void ExpectFailureWithCause(const std::string& name, const std::string& base, const std::string& cause) {
        std::vector<Progress> lines;
        std::string tail;
        const ProgramResult result = Download(name, base, lines, tail, 1);
        EXPECT_EQ(tail, "");
        EXPECT_EQ(result.err, FailureText(name, base) + cause);
    }

    std::string Listing() const { return Run({"list"}).out; }

    static TempDir* served;
    static testsupport::HttpServer* server;
    TempDir Folder;
    std::string repositoryName;
    std::unique_ptr<repositorytest::PackageRepository> repository;
    std::string url;
};

TempDir* DownloadCommandTest::served = nullptr;
testsupport::HttpServer* DownloadCommandTest::server = nullptr;

const ContentFile Readme{"readme.txt", "read me\r\n"};
// A name that only reaches the server percent-encoded.
const ContentFile FieldMap{"Maps\\Field Map-\xC3\xA9.bin", Pattern(200 * 1024 + 3, 11)};
const ContentFile Rules{"rules.ini", "[rules]\r\nSpeed=3\r\n"};
const std::string Listed = "The following packages are installed:\r\nMaps version 1.0 by Jane Doe\r\n";

TEST_F(DownloadCommandTest, DownloadsIntoAFreshStoreReportingProgressThenSuccess) {
    const std::string info = repository->Publish("Maps", {Readme, FieldMap, Rules});
    ExpectSuccess("Maps", url, {Readme, FieldMap, Rules},
                  info.size() + Readme.bytes.size() + FieldMap.bytes.size() + Rules.bytes.size());
    EXPECT_EQ(Listing(), Listed);
}

TEST_F(DownloadCommandTest, InstalledCompletePackagePrintsOneProgressLineWithoutAnyTransfer) {
    const std::string info = repository->Publish("Maps", {Readme, Rules});
    ExpectSuccess("Maps", url, {Readme, Rules}, info.size() + Readme.bytes.size() + Rules.bytes.size());
    const ProgramResult again = Run({"download", "MAPS", "http://127.0.0.1:1/gone"});
    EXPECT_EQ(again.out, "Progress: 0 / 0 bytes\r" + SuccessText("MAPS"));
    EXPECT_EQ(again.err, "");
}

// A power cut can leave a content file that was renamed before its data was
// forced (by an older program) empty, cut short or zeroed at its size under
// its name. Its bytes lack the checksum of the name, so it is fetched again.
TEST_F(DownloadCommandTest, ContentFilesWithoutTheChecksumOfTheirNameAreFetchedAgainAndReplaced) {
    const std::string info = repository->Publish("Maps", {Readme, FieldMap, Rules});
    ExpectSuccess("Maps", url, {Readme, FieldMap, Rules},
                  info.size() + Readme.bytes.size() + FieldMap.bytes.size() + Rules.bytes.size());
    testsupport::WriteFile(StoredFile(FieldMap), "");
    testsupport::WriteFile(StoredFile(Rules), Rules.bytes.substr(0, 5));
    testsupport::WriteFile(StoredFile(Readme), std::string(Readme.bytes.size(), '\0'));

    ExpectSuccess("Maps", url, {Readme, FieldMap, Rules},
                  Readme.bytes.size() + FieldMap.bytes.size() + Rules.bytes.size());
}

// A checksum is forged in seconds: a listing that gives a stored file's name
// and checksum with another size must not replace the whole file that
// another package holds, nor share it.
TEST_F(DownloadCommandTest, ListingThatDisagreesWithAWholeStoredFileFailsAndLeavesIt) {
    repository->Publish("Maps", {Readme, Rules});
    ASSERT_EQ(Run({"download", "Maps", url}).exitCode, 0);
    const ContentFile forged{"readme.txt", testsupport::ForgeCrc(Pattern(3000, 5), Crc(Readme.bytes))};
    ASSERT_EQ(ContentFileName(forged), ContentFileName(Readme));
    const std::string otherRepository = *served / (repositoryName + "-evil");
    repositorytest::PackageRepository(otherRepository).Publish("Evil", {forged});

    std::vector<Progress> lines;
    std::string tail;
    const std::string evilUrl = url + "-evil";
    const ProgramResult result = Download("Evil", evilUrl, lines, tail, 1);
    EXPECT_EQ(result.err, FailureText("Evil", evilUrl) + "The store's content file 'files/" + ContentFileName(Readme) +
                              "' has the checksum of its name at " + std::to_string(Readme.bytes.size()) +
                              " bytes; the package lists it at 3004.\r\n");
    EXPECT_EQ(ReadFile(StoredFile(Readme)), Readme.bytes);
    EXPECT_EQ(Run({"uninstall", "Evil"}).exitCode, 0);
    EXPECT_EQ(ReadFile(StoredFile(Readme)), Readme.bytes);
    EXPECT_EQ(Listing(), Listed);
}

// The identifier is the checksum of the upper-cased name, so another name
// with the identifier of Maps is easily made: it is another package.
TEST_F(DownloadCommandTest, NameThatOnlySharesAnIdentifierIsAnotherPackage) {
    ASSERT_EQ(HashName(MapsTwin.c_str()), HashName("Maps"));
    repository->Publish("Maps", {Readme});
    ExpectFailureWithCause(MapsTwin, url,
                           "The package-info file '" + url + "/packages/" + InfoFileName("Maps") +
                               "' describes package 'Maps', not '" + MapsTwin + "'.\r\n");
    EXPECT_EQ(Listing(), "No packages are installed.\r\n");

    ASSERT_EQ(Run({"download", "Maps", url}).exitCode, 0);
    ExpectFailureWithCause(MapsTwin, url,
                           "Package '" + MapsTwin + "' cannot be used: its identifier " +
                               InfoFileName("Maps").substr(0, 8) + " belongs to package 'Maps'.\r\n");
    EXPECT_EQ(Listing(), Listed);
}

// A package may list "a.dat" and "a.dat.part" with one checksum: the usual
// part file of the first is the second's own name, and a file fetched again
// must not be written through it. A leftover part file of that name is left
// alone too (it may be another package's file).
TEST_F(DownloadCommandTest, PartFileNeverTakesTheNameOfAListedContentFile) {
    const std::string bytes = Pattern(70 * 1024, 21);
    const ContentFile plain{"a.dat", bytes};
    const ContentFile twin{"a.dat.part", bytes};
    const std::string info = repository->Publish("Maps", {plain, twin});
    ExpectSuccess("Maps", url, {plain, twin}, info.size() + 2 * bytes.size());

    testsupport::WriteFile(StoredFile(plain), bytes.substr(0, 100));
    ExpectSuccess("Maps", url, {plain, twin}, bytes.size());
    testsupport::WriteFile(StoredFile(twin), "cut");
    ExpectSuccess("Maps", url, {plain, twin}, bytes.size());
    EXPECT_EQ(ListFolder(StoreOf(Folder) + "/files"),
              (std::vector<std::string>{ContentFileName(plain), ContentFileName(twin)}));
}

// The failure line repeats the repository as typed, but a password in it
// stays off the screen and out of logs.
TEST_F(DownloadCommandTest, FailureLineHidesThePasswordOfTheRepositoryUrl) {
    const std::string hostAndPath = server->BaseUrl().substr(7) + "/" + repositoryName + "/elsewhere";
    const std::string notFound = "the server answered with HTTP status 404";
    // A second '@' leaves the host name unclear: libcurl sends no such URL,
    // WinINet takes the text after the first '@' as the host name.
#ifdef _WIN32
    const std::string unclearHost = "the host name could not be resolved";
#else
    const std::string unclearHost = "the URL is malformed";
#endif
    const struct {
        std::string typed;
        std::string shown;
        std::string cause;
    } cases[] = {
        {"http://user:s3cr3t@" + hostAndPath, "http://user:***@" + hostAndPath, notFound},
        {"http://user:p@ss:w@" + hostAndPath, "http://user:***@" + hostAndPath, unclearHost},
        {"http://user@" + hostAndPath, "http://user@" + hostAndPath, notFound},
        {"http://" + hostAndPath + "/a:b@c", "http://" + hostAndPath + "/a:b@c", notFound},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.typed);
        const ProgramResult result = Run({"download", "Maps", test.typed});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, FailureText("Maps", test.shown) + "Could not fetch '" + test.shown + "/packages/" +
                                  InfoFileName("Maps") + "': " + test.cause + ".\r\n");
    }
}

// Content files with names as long as a file of the store can hold (the
// part file's name would be longer) download; a listed name that the store
// cannot hold fails the download cleanly.
TEST_F(DownloadCommandTest, NamesAsLongAsTheStoreHoldsDownloadAndLongerOnesFail) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows backend's file functions take paths of at most 260 bytes, shorter than a store "
                    "path that ends in a 255-byte name";
#endif
    const ContentFile longest{std::string(242, 'n') + ".txt", "longest"};
    const ContentFile almost{std::string(238, 'a') + ".txt", Pattern(40 * 1024, 31)};
    const std::string info = repository->Publish("Maps", {longest, almost, Readme});
    ASSERT_EQ(ContentFileName(longest).size(), 255u);
    ExpectSuccess("Maps", url, {longest, almost, Readme},
                  info.size() + longest.bytes.size() + almost.bytes.size() + Readme.bytes.size());

    std::filesystem::remove_all(StoreOf(Folder));
    const ContentFile tooLong{std::string(243, 'o') + ".txt", "too long"};
    repository->PutInfo("Maps", repositorytest::PackageInfo("Maps", {Readme, tooLong}));
    ExpectFailure("Maps", url);
    EXPECT_EQ(ListFolder(StoreOf(Folder) + "/files"), std::vector<std::string>{ContentFileName(Readme)});
}

TEST_F(DownloadCommandTest, RepositoryWithoutTheInfoFileFailsNamingPackageAndRepositoryAsTyped) {
    repository->Publish("Maps", {Readme});
    for (const std::string& base : {url + "/elsewhere/", Fault("status/204"), Fault("drop")}) {
        SCOPED_TRACE(base);
        ExpectFailure("maps", base);
        EXPECT_FALSE(Exists(StoredFile(Readme)));
        EXPECT_EQ(Listing(), "No packages are installed.\r\n");
    }
}

// A missing file leaves no part file; one whose transfer broke off keeps what
// arrived for the next run to continue.
TEST_F(DownloadCommandTest, ContentFileThatFailsLeavesOnlyWhatArrivedAndTheRegistrationStays) {
    const ContentFile missing{"missing.txt", "never published"};
    const ContentFile dropped{"dropped.bin", Pattern(64 * 1024, 12)};
    repository->SetFault(dropped, "drop");
    for (const ContentFile& failing : {missing, dropped}) {
        SCOPED_TRACE(failing.name);
        // The failing file comes last, so the others have arrived before the
        // failure ends the download.
        std::filesystem::remove_all(StoreOf(Folder));
        repository->Publish("Maps", {Readme, Rules, failing});
        std::filesystem::remove(repository->FilePath(missing));
        if (failing.name == missing.name) {
            ExpectFailure("Maps", url);
        } else {
            std::vector<Progress> lines;
            std::string tail;
            EXPECT_EQ(Download("Maps", url, lines, tail, 1).err,
                      FailureText("Maps", url) + "Could not fetch '" + url + "/files/" + ContentFileName(dropped) +
                          "': the connection broke before the whole file had arrived.\r\n");
            EXPECT_EQ(PartFiles(), std::vector<std::string>{ContentFileName(dropped) + ".part"});
            EXPECT_TRUE(ReadFile(StoredFile(dropped) + ".part") == dropped.bytes.substr(0, dropped.bytes.size() / 2));
        }
        EXPECT_FALSE(Exists(StoredFile(failing)));
        EXPECT_TRUE(ReadFile(StoredFile(Readme)) == Readme.bytes);
        EXPECT_TRUE(ReadFile(StoredFile(Rules)) == Rules.bytes);
        EXPECT_EQ(Listing(), Listed);
    }
}

TEST_F(DownloadCommandTest, BodiesWithoutContentLengthOrArrivingSlowlyAreStoredWhole) {
    const ContentFile slowMap{"slow.map", Pattern(24 * 1024, 13)};
    const std::string info = repository->Publish("Maps", {Readme, slowMap});
    const uint64_t total = info.size() + Readme.bytes.size() + slowMap.bytes.size();
    // The package-info file had no Content-Length, so the total lacks it.
    ExpectSuccess("Maps", Fault("nolength"), {Readme, slowMap}, total, info.size());

    std::filesystem::remove_all(StoreOf(Folder));
    std::vector<Progress> lines;
    std::string tail;
    Download("Maps", Fault("slow"), lines, tail);
    EXPECT_EQ(tail, SuccessText("Maps"));
    EXPECT_GE(lines.size(), 3u);
    EXPECT_TRUE(ReadFile(StoredFile(slowMap)) == slowMap.bytes);
}

// An editor or an upload tool may add a byte or a few at the end; the reader
// passes over a tail too short for a chunk header. A body cut off inside the
// header of its last file entry is as short, but is not the whole record.
// Download and install follow one rule.
TEST_F(DownloadCommandTest, InfoFileWithATailShorterThanAChunkHeaderDownloadsAsItInstalls) {
    const std::string info = repositorytest::PackageInfo("Maps", {Readme, Rules});
    // The last file entry: its header, CRC-32, size and name.
    const size_t lastEntry = 8 + 4 + 4 + 2 + Rules.name.size();
    const std::string cutInHeader = info.substr(0, info.size() - lastEntry + 5);
    struct {
        std::string body;
        bool whole;
    } const cases[] = {{info + "\n", true}, {info + std::string("\r\n\r\n\0\0\0", 7), true}, {cutInHeader, false}};
    repository->Publish("Maps", {Readme, Rules});
    for (const auto& test : cases) {
        SCOPED_TRACE(test.body.size());
        std::filesystem::remove_all(StoreOf(Folder));
        repository->PutInfo("Maps", test.body);
        if (test.whole) {
            ExpectSuccess("Maps", url, {Readme, Rules}, test.body.size() + Readme.bytes.size() + Rules.bytes.size());
        } else {
            ExpectFailure("Maps", url);
        }
        std::filesystem::remove_all(StoreOf(Folder));
        testsupport::WriteFile(StoreOf(Folder) + "/packages/" + testsupport::InfoFileName("Maps"), test.body);
        EXPECT_EQ(Run({"install", "Maps"}).exitCode, test.whole ? 0 : 1);
        EXPECT_EQ(Listing(), test.whole ? Listed : "No packages are installed.\r\n");
    }
}

// Only the bytes that may not stand in a URL are encoded; a '%' the user
// typed is kept, so an address already encoded works as well.
TEST_F(DownloadCommandTest, RepositoryUrlWithASpaceOrBracesReachesTheFolderOfThatName) {
    const std::string folder = repositoryName + " my repo {1}";
    repositorytest::PackageRepository spaced(*served / folder);
    spaced.Publish("Maps", {Readme, Rules});
    const std::string info = repositorytest::PackageInfo("Maps", {Readme, Rules});
    for (const std::string& base :
         {server->BaseUrl() + "/" + folder, server->BaseUrl() + "/" + repositoryName + "%20my%20repo%20%7B1%7D"}) {
        SCOPED_TRACE(base);
        std::filesystem::remove_all(StoreOf(Folder));
        ExpectSuccess("Maps", base, {Readme, Rules}, info.size() + Readme.bytes.size() + Rules.bytes.size());
    }
}

// A package-info file is a few megabytes at most; a server that sends far more
// (announced, or only as it arrives) is stopped at the limit, not followed
// until the memory is full.
TEST_F(DownloadCommandTest, InfoFileBeyondSixtyFourMebibytesFailsWhereItPassesTheLimit) {
    constexpr uint64_t Limit = 64 * 1024 * 1024;
    constexpr uint64_t Block = 32768;
    repository->Publish("Maps", {Readme});
    const Progress announced = ExpectFailure("Maps", Fault("huge"));
    EXPECT_EQ(announced.total, uint64_t{1} << 30);
    EXPECT_LE(announced.received, Block);
    const Progress received = ExpectFailure("Maps", Fault("endless"));
    EXPECT_GT(received.received, Limit);
    EXPECT_LE(received.received, Limit + Block);
    EXPECT_EQ(Listing(), "No packages are installed.\r\n");
}

// The listed size is all a content file may be: a body that goes past it
// (one without a Content-Length that does not end, one announced as
// 4 GiB - 1, one announced honestly for more bytes than listed, with the
// listed checksum) is stopped
// within a block of it and stored nowhere, and a refused length never
// becomes the progress total.
TEST_F(DownloadCommandTest, ContentFileBeyondItsListedSizeFailsWithinABlockOfIt) {
    constexpr uint64_t Block = 32768;
    const ContentFile field{"field.map", Pattern(40 * 1024 + 7, 17)};
    const ContentFile longer{"longer.map", Pattern(1000, 19), 10};
    const struct {
        const ContentFile& file;
        const char* fault;
    } cases[] = {{field, "endless"}, {field, "vast"}, {longer, "none"}};
    // ("none" is no word of the server's: the file is served as it is.)
    for (const auto& test : cases) {
        SCOPED_TRACE(test.fault);
        std::filesystem::remove_all(StoreOf(Folder));
        const std::string info = repository->Publish("Maps", {Readme, test.file});
        repository->SetFault(test.file, test.fault);
        const uint64_t listed = test.file.listedSize >= 0 ? test.file.listedSize : test.file.bytes.size();
        const uint64_t total = info.size() + Readme.bytes.size() + listed;
        const Progress last = ExpectFailure("Maps", url);
        EXPECT_EQ(last.total, total);
        EXPECT_LE(last.received, total + Block);
        EXPECT_FALSE(Exists(StoredFile(test.file)));
        EXPECT_EQ(Listing(), Listed);
    }
}

// No file has a size beyond 2 GiB - 1, so a record that lists one is
// refused by download and install alike. One already in the index stays
// installed, but nothing is fetched for it.
TEST_F(DownloadCommandTest, RecordListingASizeNoFileCanHaveIsRefused) {
    for (const int64_t size : {int64_t{0xFFFFFFFF}, int64_t{0x80000000}}) {
        SCOPED_TRACE(size);
        const ContentFile impossible{Readme.name, Readme.bytes, size};
        repository->Publish("Maps", {Readme, Rules});
        const std::string info = repository->PutInfo("Maps", repositorytest::PackageInfo("Maps", {impossible, Rules}));
        std::filesystem::remove_all(StoreOf(Folder));
        ExpectFailure("Maps", url);
        EXPECT_EQ(Listing(), "No packages are installed.\r\n");

        const std::string infoPath = StoreOf(Folder) + "/packages/" + testsupport::InfoFileName("Maps");
        testsupport::WriteFile(infoPath, info);
        const ProgramResult install = Run({"install", "Maps"});
        EXPECT_EQ(install.exitCode, 1);
        EXPECT_EQ(install.err, "The package-info file 'packages/" + testsupport::InfoFileName("Maps") +
                                   "' does not describe package 'Maps'.\r\n");
        EXPECT_EQ(Listing(), "No packages are installed.\r\n");

        std::filesystem::remove_all(StoreOf(Folder));
        testsupport::WriteFile(StoreOf(Folder) + "/packages.dat", testsupport::IndexEntry(info));
        ExpectFailure("Maps", url);
        EXPECT_EQ(Listing(), Listed);
        EXPECT_FALSE(Exists(StoredFile(Readme)));
        EXPECT_FALSE(Exists(StoredFile(Rules)));
    }
}

// Every way a download fails that a user can act on, each with the one line
// under the failure line that names its cause.
enum class Cause {
    NotFound,
    RefusedConnection,
    FtpUrl,
    HttpsToAPlainServer,
    UntrustedCertificate,
    EmptyUrl,
    CrcMismatch,
    SizeMismatch,
    ShortBody,
    LengthBeyondTheListedSize,
    BodyBeyondTheListedSize,
    InfoFileOfAnotherPackage,
    InfoFileOfNoPackage,
};

class DownloadFailureCauseTest : public DownloadCommandTest, public ::testing::WithParamInterface<Cause> {
protected:
    std::string InfoUrl(const std::string& base) const { return base + "/packages/" + InfoFileName("Maps"); }
    std::string FileUrl(const ContentFile& file) const { return url + "/files/" + ContentFileName(file); }

    // Publishes what the case needs; gives the repository URL to type and
    // the cause line expected.
    std::pair<std::string, std::string> Arrange(Cause cause) {
        const ContentFile field{"field.map", Pattern(40 * 1024 + 7, 23)};
        const std::string fieldName = "'files/" + ContentFileName(field) + "'";
        const std::string port = std::to_string(server->GetPort());
        repository->Publish("Maps", {Readme, field});
        switch (cause) {
            case Cause::NotFound:
                return {url + "/elsewhere", "Could not fetch '" + InfoUrl(url + "/elsewhere") +
                                                "': the server answered with HTTP status 404."};
            case Cause::RefusedConnection:
                // Nothing listens on port 1 of the loopback address.
                return {"http://127.0.0.1:1/repo", "Could not fetch '" + InfoUrl("http://127.0.0.1:1/repo") +
                                                       "': could not connect to the server."};
            case Cause::FtpUrl:
                return {"ftp://127.0.0.1:" + port + "/" + repositoryName,
                        "Could not fetch '" + InfoUrl("ftp://127.0.0.1:" + port + "/" + repositoryName) +
                            "': the URL does not begin with http:// or https://."};
            case Cause::HttpsToAPlainServer:
                return {"https://127.0.0.1:" + port + "/" + repositoryName,
                        "Could not fetch '" + InfoUrl("https://127.0.0.1:" + port + "/" + repositoryName) +
                            "': the secure connection could not be set up."};
            case Cause::UntrustedCertificate: {
                // A certificate that nobody told the system to trust.
                EXPECT_TRUE(testsupport::MakeSelfSignedCertificate(Folder / "server.pem"));
                secureServer = std::make_unique<testsupport::HttpServer>(served->Path(), 120, Folder / "server.pem");
                EXPECT_TRUE(secureServer->IsRunning()) << "the loopback HTTPS server did not start";
                const std::string base = secureServer->BaseUrl() + "/" + repositoryName;
                return {base, "Could not fetch '" + InfoUrl(base) + "': the server's certificate is not trusted."};
            }
            case Cause::EmptyUrl:
                return {"", "Could not fetch '" + InfoUrl("") + "': the URL is malformed."};
            case Cause::CrcMismatch: {
                std::string altered = field.bytes;
                altered[100] ^= 0x40;
                testsupport::WriteFile(repository->FilePath(field), altered);
                char crcs[64];
                std::snprintf(crcs, sizeof crcs, "%08X; the package lists %08X", Crc(altered), Crc(field.bytes));
                return {url, "The content file " + fieldName + " arrived with the CRC-32 " + crcs + "."};
            }
            case Cause::SizeMismatch:
                // The server announces 100 bytes less than it has and sends that many.
                repository->SetFault(field, "short");
                return {url, "The content file " + fieldName + " arrived with " +
                                 std::to_string(field.bytes.size() - 100) + " bytes; the package lists it at " +
                                 std::to_string(field.bytes.size()) + "."};
            case Cause::ShortBody:
                repository->SetFault(field, "drop");
                return {url, "Could not fetch '" + FileUrl(field) +
                                 "': the connection broke before the whole file had arrived."};
            case Cause::LengthBeyondTheListedSize: {
                const ContentFile listedShort{field.name, field.bytes, 1000};
                repository->PutInfo("Maps", repositorytest::PackageInfo("Maps", {Readme, listedShort}));
                return {url, "The server announced " + std::to_string(field.bytes.size()) +
                                 " bytes for the content file " + fieldName + "; the package lists it at 1000."};
            }
            case Cause::BodyBeyondTheListedSize:
                repository->SetFault(field, "endless");
                return {url, "The content file " + fieldName + " goes on past the " +
                                 std::to_string(field.bytes.size()) + " bytes that the package lists."};
            case Cause::InfoFileOfAnotherPackage:
                repository->PutInfo("Maps", repositorytest::PackageInfo("Units", {Readme}));
                return {url, "The package-info file '" + InfoUrl(url) + "' describes package 'Units', not 'Maps'."};
            case Cause::InfoFileOfNoPackage:
                // An error page served with status 200.
                repository->PutInfo("Maps", "<html><body>Not here</body></html>\n");
                return {url, "The package-info file '" + InfoUrl(url) + "' does not describe package 'Maps'."};
        }
        return {};
    }

    std::unique_ptr<testsupport::HttpServer> secureServer;
};

TEST_P(DownloadFailureCauseTest, FailureLineIsFollowedByTheLineThatNamesTheCause) {
    const auto [base, cause] = Arrange(GetParam());
    std::vector<Progress> lines;
    std::string tail;
    const ProgramResult result = Download("Maps", base, lines, tail, 1);
    EXPECT_EQ(tail, "");
    EXPECT_EQ(result.err, FailureText("Maps", base) + cause + "\r\n");
    // A transfer that broke off keeps what arrived for the next run to
    // continue; every refusal leaves no part file.
    EXPECT_EQ(PartFiles().size(), GetParam() == Cause::ShortBody ? 1u : 0u);
}

const char* const CauseNames[] = {"NotFound",
                                  "RefusedConnection",
                                  "FtpUrl",
                                  "HttpsToAPlainServer",
                                  "UntrustedCertificate",
                                  "EmptyUrl",
                                  "CrcMismatch",
                                  "SizeMismatch",
                                  "ShortBody",
                                  "LengthBeyondTheListedSize",
                                  "BodyBeyondTheListedSize",
                                  "InfoFileOfAnotherPackage",
                                  "InfoFileOfNoPackage"};

INSTANTIATE_TEST_SUITE_P(Causes, DownloadFailureCauseTest,
                         ::testing::Values(Cause::NotFound, Cause::RefusedConnection, Cause::FtpUrl,
                                           Cause::HttpsToAPlainServer, Cause::UntrustedCertificate, Cause::EmptyUrl,
                                           Cause::CrcMismatch, Cause::SizeMismatch, Cause::ShortBody,
                                           Cause::LengthBeyondTheListedSize, Cause::BodyBeyondTheListedSize,
                                           Cause::InfoFileOfAnotherPackage, Cause::InfoFileOfNoPackage),
                         [](const ::testing::TestParamInfo<Cause>& info) {
                             return std::string(CauseNames[static_cast<int>(info.param)]);
                         });

// The shapes of store that users have: one that has only ever downloaded
// (no packages/ folder), one whose content folder went missing, and one that
// also holds a converted package that is not installed. Uninstall must leave
// in files/ exactly what the remaining packages and package-info files list.
enum class StoreShape { DownloadedOnly, ContentFolderMissing, ConvertedBeside };

class UninstallByStoreShapeTest : public DownloadCommandTest, public ::testing::WithParamInterface<StoreShape> {};

TEST_P(UninstallByStoreShapeTest, LeavesOnlyTheFilesThatRemainListed) {
    const ContentFile units{"units.ini", "[units]\r\n"};
    repository->Publish("Maps", {Readme, FieldMap, Rules});
    repository->Publish("Units", {Rules, units});
    ASSERT_EQ(Run({"download", "Maps", url}).exitCode, 0);
    ASSERT_EQ(Run({"download", "Units", url}).exitCode, 0);
    std::vector<std::string> kept = {ContentFileName(Rules), ContentFileName(units)};
    const std::string files = StoreOf(Folder) + "/files";
    if (GetParam() == StoreShape::ContentFolderMissing) {
        std::filesystem::remove_all(files);
        kept.clear();
    }
    if (GetParam() == StoreShape::ConvertedBeside) {
        testsupport::MixWriter archive;
        archive.Add("readme.txt", Readme.bytes);
        testsupport::WriteFile(std::filesystem::canonical(Folder.Path()).string() + "/Ironveil/FDS/Notes.mix",
                               archive.Build().bytes);
        ASSERT_EQ(Run({"convert", "Notes.mix", "1", "me"}).err, "");
        kept.insert(kept.begin(), ContentFileName(Readme));
    } else {
        ASSERT_FALSE(Exists(StoreOf(Folder) + "/packages"));
    }

    const ProgramResult uninstall = Run({"uninstall", "Maps"});
    EXPECT_EQ(uninstall.exitCode, 0);
    EXPECT_EQ(uninstall.out, "Package 'Maps' is now uninstalled.\r\n");
    EXPECT_EQ(uninstall.err, "");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(ListFolder(files), kept);
    EXPECT_EQ(Listing(), "The following packages are installed:\r\nUnits version 1.0 by Jane Doe\r\n");
}

INSTANTIATE_TEST_SUITE_P(Shapes, UninstallByStoreShapeTest,
                         ::testing::Values(StoreShape::DownloadedOnly, StoreShape::ContentFolderMissing,
                                           StoreShape::ConvertedBeside));

TEST_F(DownloadCommandTest, ConvertedPackagePublishedByCopyingTheStoreInstallsByteIdentical) {
    const std::vector<std::pair<std::string, std::string>> members = {
        {"Data\\Field.DDS", Pattern(150 * 1024, 14)}, {"units.ini", "[units]\r\n"}, {"my map.txt", "hello"}};
    testsupport::MixWriter archive;
    for (const auto& member : members) {
        archive.Add(member.first, member.second);
    }
    const std::string publisherStore = StoreOf(Folder);
    testsupport::WriteFile(std::filesystem::canonical(Folder.Path()).string() + "/Ironveil/FDS/Field.mix",
                           archive.Build().bytes);
    ASSERT_EQ(Run({"convert", "Field.mix", "2.1", "Jane"}).err, "");
    ASSERT_EQ(Run({"install", "Field"}).err, "");
    testsupport::PublishStore(publisherStore, *served / repositoryName);

    TempDir subscriber;
    Install(subscriber);
    const ProgramResult result = Run(subscriber, {"download", "Field", url});
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out.size() > SuccessText("Field").size() &&
                result.out.compare(result.out.size() - SuccessText("Field").size(), std::string::npos,
                                   SuccessText("Field")) == 0)
        << result.out;
    const std::string subscriberStore = StoreOf(subscriber);
    const std::vector<std::string> names = ListFolder(publisherStore + "/files");
    ASSERT_EQ(names.size(), members.size());
    EXPECT_EQ(ListFolder(subscriberStore + "/files"), names);
    for (const std::string& name : names) {
        EXPECT_TRUE(ReadFile(subscriberStore + "/files/" + name) == ReadFile(publisherStore + "/files/" + name))
            << name;
    }
    EXPECT_EQ(ReadFile(subscriberStore + "/packages.dat"), ReadFile(publisherStore + "/packages.dat"));
    EXPECT_EQ(Run(subscriber, {"list"}).out, "The following packages are installed:\r\nField version 2.1 by Jane\r\n");
}

// A repository signed as its README tells publishers: manifest.txt with the
// SHA-256 of every file, manifest.sig made with the openssl tool.
class SignedRepositoryTest : public DownloadCommandTest {
protected:
    void SetUp() override {
        DownloadCommandTest::SetUp();
        ASSERT_TRUE(testsupport::MakeSigningKey(Folder / "key.pem", Folder / "public.pem"));
    }

    std::string RepositoryFolder() const { return *served / repositoryName; }

    // The manifest of every file the repository holds now, signed by the keys.
    void Sign(int64_t serial, const std::vector<std::string>& keys, const std::string& expires = "") {
        std::string manifest = "# Quillbox manifest\n# Serial: " + std::to_string(serial) +
                               "\n# Expires: " + (expires.empty() ? InDays(30) : expires) + "\n";
        for (const std::string folder : {"packages", "files"}) {
            for (const std::string& name : ListFolder(RepositoryFolder() + "/" + folder)) {
                if (name.size() < 6 || name.compare(name.size() - 6, 6, ".fault") != 0) {
                    manifest += Sha256Of(ReadFile(RepositoryFolder() + "/" + folder + "/" + name)) + "  " + folder +
                                "/" + name + "\n";
                }
            }
        }
        testsupport::WriteFile(RepositoryFolder() + "/manifest.txt", manifest);
        std::string signatures;
        for (const std::string& key : keys) {
            ASSERT_TRUE(testsupport::SignFile(key, RepositoryFolder() + "/manifest.txt", Folder / "one.sig"));
            signatures += ReadFile(Folder / "one.sig");
        }
        testsupport::WriteFile(RepositoryFolder() + "/manifest.sig", signatures);
    }

    static std::string Sha256Of(const std::string& bytes) {
        platform::Sha256Digest digest{};
        EXPECT_TRUE(platform::HashSha256(bytes.data(), bytes.size(), digest));
        std::string text;
        for (uint8_t byte : digest) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", byte);
            text += pair;
        }
        return text;
    }

    static std::string InDays(int days) {
        const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(days) * 86400;
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&when));
        return text;
    }

    void Trust(const std::string& publicKey) {
        const ProgramResult result = Run({"trust", url + "/", publicKey});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ASSERT_EQ(result.out.rfind("Repository '" + url + "' now trusts the key ", 0), 0u) << result.out;
    }

    void ExpectSignedSuccess(const std::string& name) {
        const ProgramResult result = Run({"download", name, url});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, "");
    }
};

TEST_F(SignedRepositoryTest, SignedRepositoryDownloadsAndRefusesWhatItsManifestDoesNotVouchFor) {
    repository->Publish("Maps", {Readme, Rules});
    Sign(1, {Folder / "key.pem"});
    Trust(Folder / "public.pem");
    ExpectSignedSuccess("Maps");
    EXPECT_EQ(ReadFile(StoredFile(Readme)), Readme.bytes);
    // Installed and complete, the package is still checked against the signed
    // record, and the same manifest may come again.
    ExpectSignedSuccess("Maps");

    // A content file swapped on the server, its checksum forged at its size.
    const ContentFile swapped{"swapped.txt", "the real bytes of this file"};
    const ContentFile forged{"swapped.txt", testsupport::ForgeCrc("other bytes, as many as", Crc(swapped.bytes))};
    ASSERT_EQ(forged.bytes.size(), swapped.bytes.size());
    repository->Publish("Units", {swapped});
    Sign(2, {Folder / "key.pem"});
    repository->PutFile(forged);
    ExpectFailureWithCause("Units", url,
                           "The content file 'files/" + ContentFileName(swapped) +
                               "' does not have the SHA-256 that the signed manifest lists.\r\n");
    EXPECT_FALSE(Exists(StoredFile(swapped)));
    EXPECT_EQ(PartFiles(), std::vector<std::string>{});

    // The same forged bytes placed in the store beforehand do not count.
    repository->PutFile(swapped);
    testsupport::WriteFile(StoredFile(swapped), forged.bytes);
    ExpectFailureWithCause(
        "Units", url,
        "The store's content file 'files/" + ContentFileName(swapped) +
            "' has the checksum of its name but not the SHA-256 that the signed manifest lists.\r\n");
    EXPECT_EQ(ReadFile(StoredFile(swapped)), forged.bytes);
    std::filesystem::remove(StoredFile(swapped));
    ExpectSignedSuccess("Units");
    EXPECT_EQ(ReadFile(StoredFile(swapped)), swapped.bytes);

    // A package-info file swapped on the server.
    repository->Publish("Arena", {Rules});
    Sign(3, {Folder / "key.pem"});
    repository->PutInfo("Arena", repositorytest::PackageInfo("Arena", {Rules, Readme}));
    ExpectFailureWithCause("Arena", url,
                           "The package-info file '" + url + "/packages/" + InfoFileName("Arena") +
                               "' does not have the SHA-256 that the signed manifest lists.\r\n");
    EXPECT_EQ(Listing(),
              "The following packages are installed:\r\nMaps version 1.0 by Jane Doe\r\nUnits version "
              "1.0 by Jane Doe\r\n");

    // An installed package whose signed record has changed is not updated.
    repository->PutInfo("Maps", repositorytest::PackageInfo("Maps", {Readme, Rules}, "2.0"));
    Sign(4, {Folder / "key.pem"});
    ExpectFailureWithCause("Maps", url,
                           "The installed package 'Maps' differs from the signed package-info file '" + url +
                               "/packages/" + InfoFileName("Maps") + "'.\r\n");
}

TEST_F(SignedRepositoryTest, ManifestsThatAreNotSignedCurrentAndNewAreRefused) {
    ASSERT_TRUE(testsupport::MakeSigningKey(Folder / "foreign.pem", Folder / "foreign-public.pem"));
    repository->Publish("Maps", {Readme});
    Trust(Folder / "public.pem");
    const std::string manifest = url + "/manifest.txt";
    struct Case {
        const char* what;
        std::function<void()> publish;
        std::string cause;
    };
    const std::vector<Case> cases = {
        {"no signature", [&] { Sign(5, {}); }, "The repository's manifest.sig holds no signature."},
        {"a foreign key", [&] { Sign(5, {Folder / "foreign.pem"}); },
         "No key trusted for the repository signed its manifest.txt."},
        {"no manifest.sig",
         [&] {
             Sign(5, {Folder / "key.pem"});
             std::filesystem::remove(RepositoryFolder() + "/manifest.sig");
         },
         "Could not fetch '" + url + "/manifest.sig': the server answered with HTTP status 404."},
        {"expired", [&] { Sign(5, {Folder / "key.pem"}, "2020-01-01T00:00:00Z"); },
         "The repository's manifest.txt expired at 2020-01-01T00:00:00Z."},
        {"far ahead", [&] { Sign(5, {Folder / "key.pem"}, "2999-01-01T00:00:00Z"); },
         "The repository's manifest.txt claims to be valid until 2999-01-01T00:00:00Z, more than a year ahead."},
    };
    for (const Case& failing : cases) {
        SCOPED_TRACE(failing.what);
        failing.publish();
        ExpectFailureWithCause("Maps", url, failing.cause + "\r\n");
        EXPECT_FALSE(Exists(StoredFile(Readme)));
        EXPECT_EQ(Listing(), "No packages are installed.\r\n");
    }

    // Once serial 5 is accepted, an older one (replayed) is refused, and so is
    // serial 5 with other contents.
    Sign(5, {Folder / "key.pem"});
    ExpectSignedSuccess("Maps");
    repository->Publish("Units", {Rules});
    Sign(4, {Folder / "key.pem"});
    ExpectFailureWithCause("Units", url,
                           "The repository's manifest.txt has serial 4, older than serial 5, which this store has "
                           "accepted.\r\n");
    Sign(5, {Folder / "key.pem"});
    ExpectFailureWithCause("Units", url,
                           "The repository's manifest.txt has serial 5, which this store has accepted with other "
                           "contents.\r\n");
    EXPECT_FALSE(Exists(StoredFile(Rules)));
}

// While a publisher replaces its key, manifest.sig holds a signature by each;
// a user who trusts either key, or both, downloads.
TEST_F(SignedRepositoryTest, ManifestSignedByTheOldAndTheNewKeyDownloadsDuringAKeyChange) {
    ASSERT_TRUE(testsupport::MakeSigningKey(Folder / "new.pem", Folder / "new-public.pem"));
    repository->Publish("Maps", {Readme});
    Sign(1, {Folder / "key.pem", Folder / "new.pem"});
    Trust(Folder / "new-public.pem");
    ExpectSignedSuccess("Maps");
    const ProgramResult second = Run({"trust", url, Folder / "public.pem"});
    EXPECT_EQ(second.exitCode, 0);
    repository->Publish("Units", {Rules});
    Sign(2, {Folder / "key.pem"});
    ExpectSignedSuccess("Units");
    EXPECT_EQ(ReadFile(StoredFile(Rules)), Rules.bytes);
}

// Where a trusted repository's accepted manifest lists a content file, the
// store knows its SHA-256: verify finds other bytes of the same checksum and
// size, and the next download mends the file.
TEST_F(SignedRepositoryTest, VerifyChecksTheSignedSha256OfContentFilesFromATrustedRepository) {
    repository->Publish("Maps", {Readme, Rules});
    Sign(1, {Folder / "key.pem"});
    Trust(Folder / "public.pem");
    ExpectSignedSuccess("Maps");
    const std::string forged = testsupport::ForgeCrc(std::string(Readme.bytes.size() - 4, 'x'), Crc(Readme.bytes));
    testsupport::WriteFile(StoredFile(Readme), forged);

    const ProgramResult damaged = Run({"verify"});
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_EQ(damaged.out, "Damaged: files/" + ContentFileName(Readme) +
                               " (Maps)\r\n1 of 2 content files are damaged or missing. Download their packages again "
                               "to mend them.\r\n");
    EXPECT_FALSE(Exists(StoredFile(Readme)));
    ExpectSignedSuccess("Maps");
    EXPECT_EQ(ReadFile(StoredFile(Readme)), Readme.bytes);
    EXPECT_EQ(Run({"verify"}).out, "All 2 content files of 1 packages are whole.\r\n");
}

TEST_F(SignedRepositoryTest, TrustRefusesWhatIsNoP256PublicKey) {
    testsupport::WriteFile(Folder / "not-a-key.pem", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n");
    for (const std::string& file : {std::string("key.pem"), std::string("not-a-key.pem")}) {
        const ProgramResult result = Run({"trust", url, Folder / file});
        EXPECT_EQ(result.exitCode, 1) << file;
        EXPECT_EQ(result.err, "The file '" + (Folder / file) +
                                  "' holds no P-256 public key (as 'openssl pkey -pubout' prints one).\r\n");
    }
    const ProgramResult missing = Run({"trust", url, Folder / "missing.pem"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Could not read the key file '" + (Folder / "missing.pem") + "'.\r\n");
    // No key bound: the repository downloads as one that is not signed.
    repository->Publish("Maps", {Readme});
    ExpectSignedSuccess("Maps");
}

}  // namespace
