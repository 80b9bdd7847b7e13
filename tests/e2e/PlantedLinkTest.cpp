// Links planted in the store under the names of its temporary files: a
// command must write a new file of its own there, never through the link, so
// that the file the link leads to stays as it is and the store holds a real
// file under the final name.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "StoreFixture.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"
#include "support/RecordBytes.h"

namespace {

using repositorytest::ContentFile;
using repositorytest::ContentFileName;
using testsupport::InfoFileName;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::WriteFile;

enum class LinkKind { Symbolic, Hard };

enum class Command { Convert, Install, Uninstall, Download };

struct PlantedCase {
    const char* label;
    Command command;
    std::string temporaryName;  // in the store, where the link is planted
    std::string finalName;      // what the file written there becomes
    // Planted as well: a download continues no part file that is a link (nor
    // writes through it) but replaces it by a file of its own, and deletes
    // the part file of the other name.
    std::string takenName = "";
};

// Names the case in the output of a failure.
void PrintTo(const PlantedCase& test, std::ostream* out) { *out << test.label; }

const ContentFile Member{"a.txt", "alpha"};

class PlantedLinkTest : public StoreFixture, public ::testing::WithParamInterface<std::tuple<PlantedCase, LinkKind>> {
protected:
    static void SetUpTestSuite() {
        Served = new testsupport::TempDir;
        Server = new testsupport::HttpServer(Served->Path(), 600);
        repositorytest::PackageRepository(Served->Path() + "/repo").Publish("Maps", {Member});
    }
    static void TearDownTestSuite() {
        delete Server;
        delete Served;
    }

    // What the command needs in place before the link is planted.
    void Prepare(Command command) {
        const std::string record = repositorytest::PackageInfo("Maps", {Member});
        if (command == Command::Convert) {
            WriteFile(std::filesystem::canonical(Folder.Path()).string() + "/Ironveil/FDS/Maps.mix",
                      testsupport::MixWriter().Add(Member.name, Member.bytes).Build().bytes);
        }
        if (command == Command::Install || command == Command::Uninstall) {
            WriteFile(StorePath("packages/" + InfoFileName("Maps")), record);
        }
        if (command == Command::Uninstall) {
            ASSERT_EQ(Run({"install", "Maps"}).exitCode, 0);
        }
    }

    ProgramResult RunCommand(Command command) const {
        switch (command) {
            case Command::Convert:
                return Run({"convert", "Maps.mix", "1.0", "Jane Doe"});
            case Command::Install:
                return Run({"install", "Maps"});
            case Command::Uninstall:
                return Run({"uninstall", "Maps"});
            case Command::Download:
                return Run({"download", "Maps", Server->BaseUrl() + "/repo"});
        }
        return {};
    }

    static testsupport::TempDir* Served;
    static testsupport::HttpServer* Server;
};

testsupport::TempDir* PlantedLinkTest::Served = nullptr;
testsupport::HttpServer* PlantedLinkTest::Server = nullptr;

TEST_P(PlantedLinkTest, CommandWritesANewFileAndLeavesTheLinkedFileAlone) {
    const auto& [test, kind] = GetParam();
#ifdef _WIN32
    if (kind == LinkKind::Symbolic) {
        GTEST_SKIP() << "Wine deletes the file that a host link leads to rather than the link, which Windows "
                        "does not; the hard link covers the backend";
    }
#endif
    ASSERT_TRUE(Server->IsRunning()) << "the loopback HTTP server did not start";
    Prepare(test.command);
    const std::string outside = Folder / "outside.txt";
    WriteFile(outside, "not the store's");
    const std::string planted = StorePath(test.temporaryName);
    testsupport::MakeFolders(std::filesystem::path(planted).parent_path().string());
    for (const std::string& name : {test.temporaryName, test.takenName}) {
        if (name.empty()) {
            continue;
        }
        if (kind == LinkKind::Symbolic) {
            std::filesystem::create_symlink(outside, StorePath(name));
        } else {
            std::filesystem::create_hard_link(outside, StorePath(name));
        }
    }

    const ProgramResult result = RunCommand(test.command);

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(outside), "not the store's");
    // The C runtime of the Windows build reports one link for every file.
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::hard_link_count(outside), 1u);
#endif
    const std::string final = StorePath(test.finalName);
    EXPECT_FALSE(std::filesystem::is_symlink(final));
    EXPECT_TRUE(std::filesystem::is_regular_file(final));
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::hard_link_count(final), 1u);
#endif
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(planted)));
    if (!test.takenName.empty()) {
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(StorePath(test.takenName))));
    }
    if (test.finalName.rfind("files/", 0) == 0) {
        EXPECT_EQ(ReadFile(final), Member.bytes);
    }
}

const std::string Content = "files/" + ContentFileName(Member);

INSTANTIATE_TEST_SUITE_P(
    TemporaryNames, PlantedLinkTest,
    ::testing::Combine(
        ::testing::Values(PlantedCase{"ConvertCopy", Command::Convert, "files/convert-0.part", Content},
                          PlantedCase{"ConvertInfo", Command::Convert, "packages/" + InfoFileName("Maps") + ".part",
                                      "packages/" + InfoFileName("Maps")},
                          PlantedCase{"InstallIndex", Command::Install, "packages.dat.new", "packages.dat"},
                          PlantedCase{"UninstallIndex", Command::Uninstall, "packages.dat.new", "packages.dat"},
                          PlantedCase{"DownloadContent", Command::Download, "files/~" + Content.substr(6) + ".part",
                                      Content, Content + ".part"},
                          PlantedCase{"DownloadIndex", Command::Download, "packages.dat.new", "packages.dat"}),
        ::testing::Values(LinkKind::Symbolic, LinkKind::Hard)),
    [](const ::testing::TestParamInfo<PlantedLinkTest::ParamType>& info) {
        return std::string(std::get<0>(info.param).label) +
               (std::get<1>(info.param) == LinkKind::Symbolic ? "Symbolic" : "Hard");
    });

}  // namespace
