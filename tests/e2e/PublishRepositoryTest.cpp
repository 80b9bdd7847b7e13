#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "download/PackageRepository.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"
#include "support/ProgramCopy.h"
#include "support/TestSupport.h"

namespace {

using repositorytest::ContentFile;
using repositorytest::ContentFileName;
using repositorytest::Pattern;
using testsupport::ListFolder;
using testsupport::MixWriter;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::TempDir;

// A copy of Quillbox in a folder of its own. Without paths.ini its store
// lies below that folder, so the maintainer and the user have separate stores.
class Installation {
public:
    Installation() : Program(testsupport::CopyProgramInto(Folder.Path())) {}

    ProgramResult Run(const std::vector<std::string>& arguments) const {
        return testsupport::RunProgram(Program, arguments, Folder.Path(), {"HOME=" + Folder.Path()});
    }

    std::string Store() const { return std::filesystem::canonical(Folder.Path()).string() + "/Ironveil/Ironveil/mofs"; }
    std::string Path(const std::string& relative) const { return Folder / relative; }

private:
    TempDir Folder;
    std::string Program;
};

// Writes an archive of the members beside the maintainer's program and turns
// it into a package of the maintainer's store; convert prints nothing.
void ConvertArchive(const Installation& maintainer, const std::string& archive, const std::vector<ContentFile>& members,
                    const std::string& version, const std::string& author) {
    MixWriter writer;
    for (const ContentFile& member : members) {
        writer.Add(member.name, member.bytes);
    }
    testsupport::WriteFile(maintainer.Path(archive), writer.Build().bytes);
    const ProgramResult result = maintainer.Run({"convert", maintainer.Path(archive), version, author});
    EXPECT_EQ(result.out + result.err, "") << archive;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Rules is in both archives; Field is stored below a folder of the archive.
const ContentFile Rules{"rules.ini", "[rules]\r\nSpeed=3\r\n"};
const ContentFile Field{"Maps\\Field.map", Pattern(70 * 1024 + 5, 3)};
const ContentFile Arena{"arena.map", Pattern(1000, 4)};

TEST(PublishRepositoryTest, ConvertedStoreFoldersServedStaticallyDownloadIntoAnotherStore) {
    Installation maintainer;
    ConvertArchive(maintainer, "Maps.mix", {Rules, Field}, "1.0", "Jane Doe");
    ConvertArchive(maintainer, "Arena.mix", {Arena, Rules}, "2.1b", "Sam Roe");

    // The repository is nothing but the two folders on a plain file server.
    TempDir served;
    testsupport::MakeFolders(served / "repo");
    for (const std::string folder : {"packages", "files"}) {
        std::filesystem::copy(maintainer.Store() + "/" + folder, served / ("repo/" + folder),
                              std::filesystem::copy_options::recursive);
    }
    testsupport::HttpServer server(served.Path());
    ASSERT_TRUE(server.IsRunning()) << "the loopback HTTP server did not start";
    const std::string url = server.BaseUrl() + "/repo";

    // The repository's address works with and without a trailing slash.
    Installation user;
    const std::vector<std::pair<std::string, std::string>> downloads = {{"Maps", url}, {"Arena", url + "/"}};
    for (const auto& [name, address] : downloads) {
        const ProgramResult result = user.Run({"download", name, address});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(EndsWith(result.out, "Package '" + name + "' was successfully downloaded and installed.\r\n"))
            << result.out;
        EXPECT_EQ(result.err, "");
    }

    EXPECT_EQ(user.Run({"list"}).out,
              "The following packages are installed:\r\n"
              "Maps version 1.0 by Jane Doe\r\n"
              "Arena version 2.1b by Sam Roe\r\n");
    // Each member arrives once, byte for byte, and nothing else is left.
    std::vector<std::string> expected;
    for (const ContentFile* member : {&Rules, &Field, &Arena}) {
        expected.push_back(ContentFileName(*member));
        EXPECT_TRUE(ReadFile(user.Store() + "/files/" + expected.back()) == member->bytes) << member->name;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListFolder(user.Store() + "/files"), expected);
}

}  // namespace
