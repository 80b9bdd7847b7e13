// A store that runs out of space while Quillbox installs, converts or
// downloads: the old index stays, no content file stands under its final name
// cut short, and the failure is printed. The store is a small memory file
// system mounted for the test, which needs root (under Wine, through the host
// system); elsewhere the tests skip.

#include <gtest/gtest.h>

#include <memory>

#include "StoreFixture.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"
#include "support/SmallDisk.h"

namespace {

using repositorytest::ContentFile;
using repositorytest::ContentFileName;
using repositorytest::InfoFileName;
using repositorytest::PackageInfo;
using repositorytest::Pattern;
using testsupport::Exists;
using testsupport::ListFolder;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr long DiskSize = 1024 * 1024;

const ContentFile Small{"small.txt", "fits\r\n"};
const ContentFile Large{"large.bin", Pattern(2 * DiskSize, 7)};

class FullDiskTest : public StoreFixture {
protected:
    void SetUp() override {
        Disk = std::make_unique<testsupport::SmallDisk>(Store, DiskSize);
        if (!Disk->IsMounted()) {
            GTEST_SKIP() << Disk->Failure();
        }
        OldIndex = IndexEntry(PackageInfo("Old", {{"old.txt", "old"}}));
        WriteFile(StorePath("packages.dat"), OldIndex);
    }
    void TearDown() override { Disk.reset(); }

    // Every file in the content folder must be one of these, whole; none may
    // be a partial download or copy.
    void ExpectOnlyWholeContent(const std::vector<ContentFile>& allowed) const {
        EXPECT_EQ(PartFiles(), std::vector<std::string>{});
        for (const std::string& name : ListFolder(StorePath("files"))) {
            bool whole = false;
            for (const ContentFile& file : allowed) {
                whole = whole || (name == ContentFileName(file) && ReadFile(StorePath("files/" + name)) == file.bytes);
            }
            EXPECT_TRUE(whole) << "files/" << name << " is not a whole content file";
        }
    }

    void ExpectOldIndex() const {
        EXPECT_TRUE(ReadFile(StorePath("packages.dat")) == OldIndex);
        EXPECT_FALSE(Exists(StorePath("packages.dat.new")));
    }

    std::unique_ptr<testsupport::SmallDisk> Disk;
    std::string OldIndex;
};

TEST_F(FullDiskTest, InstallOnAFullDiskKeepsTheOldIndexAndSaysSo) {
    WriteFile(StorePath("packages/" + InfoFileName("Extra")), PackageInfo("Extra", {Small}));
    ASSERT_TRUE(Disk->Fill(StorePath("filler"), 0));

    const ProgramResult result = Run({"install", "Extra"});
    EXPECT_NE(result.err.find("Could not save the package index"), std::string::npos) << result.err;
    ExpectOldIndex();
    EXPECT_EQ(InstalledNames(), std::vector<std::string>{"Old"});
}

TEST_F(FullDiskTest, ConvertOfAMemberLargerThanTheFreeSpaceStoresNoPartOfIt) {
    const std::string archive = Folder / "Big.mix";
    WriteFile(archive,
              testsupport::MixWriter().Add(Small.name, Small.bytes).Add(Large.name, Large.bytes).Build().bytes);

    const ProgramResult result = Run({"convert", archive, "1.0", "Jane Doe"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err, "");
    ExpectOnlyWholeContent({Small});
    EXPECT_FALSE(Exists(StorePath("packages/" + InfoFileName("Big"))));
    EXPECT_EQ(ListFolder(StorePath("packages")), std::vector<std::string>{});
    ExpectOldIndex();
}

class FullDiskDownloadTest : public FullDiskTest {
protected:
    void SetUp() override {
        FullDiskTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        Server = std::make_unique<testsupport::HttpServer>(Served.Path(), 300);
        ASSERT_TRUE(Server->IsRunning()) << "the loopback HTTP server did not start";
        repositorytest::PackageRepository(Served / "repo").Publish("Maps", {Small, Large});
        Url = Server->BaseUrl() + "/repo";
    }
    void TearDown() override {
        Server.reset();
        FullDiskTest::TearDown();
    }

    ProgramResult Download() const {
        const ProgramResult result = Run({"download", "Maps", Url}, 180);
        EXPECT_EQ(result.err.find("Failed to download package 'Maps' from repository '" + Url + "'.\r\n"), 0u)
            << result.err;
        return result;
    }

    testsupport::TempDir Served;
    std::unique_ptr<testsupport::HttpServer> Server;
    std::string Url;
};

// The package-info file still fits, so the package is registered as a
// failed download leaves it; the large file does not.
TEST_F(FullDiskDownloadTest, FileLargerThanTheFreeSpaceFailsWithoutAPartOrTruncatedFile) {
    const ProgramResult result = Download();
    testsupport::ExpectStoreCause(result.err, "Failed to download package 'Maps' from repository '" + Url + "'.\r\n",
                                  "write", StorePath("files/" + ContentFileName(Large) + ".part"));
    ExpectOnlyWholeContent({Small});
    const std::vector<std::string> installed = InstalledNames();
    ASSERT_FALSE(installed.empty());
    EXPECT_EQ(installed.front(), "Old");
}

TEST_F(FullDiskDownloadTest, DownloadOntoAFullDiskKeepsTheOldIndexAndSaysSo) {
    ASSERT_TRUE(Disk->Fill(StorePath("filler"), 0));
    const ProgramResult result = Download();
    EXPECT_NE(result.err.find("Could not save the package index"), std::string::npos) << result.err;
    ExpectOnlyWholeContent({});
    ExpectOldIndex();
    EXPECT_EQ(InstalledNames(), std::vector<std::string>{"Old"});
}

}  // namespace
