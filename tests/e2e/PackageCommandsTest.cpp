#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ProgramCopy.h"
#include "support/RecordBytes.h"
#include "support/SmallDisk.h"
#include "support/StoreCause.h"
#include "support/TestSupport.h"

namespace {

using testsupport::Exists;
using testsupport::IndexEntry;
using testsupport::InfoFileName;
using testsupport::ListFolder;
using testsupport::PackageRecord;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WorkedRecord;
using testsupport::WriteFile;

// A copy of the program in a fresh folder: with no paths.ini its program
// folder is that folder, and the store lies below it.
class PackageCommandsTest : public ::testing::Test {
protected:
    PackageCommandsTest() {
        Program = testsupport::CopyProgramInto(Folder.Path());
        const std::string programFolder = std::filesystem::canonical(Folder.Path()).string();
        Store = programFolder + "/Ironveil/Ironveil/mofs";
        // Messages spell the store's paths the platform's way.
        IndexName = testsupport::NativeSpelling(Store + "/packages.dat");
    }

    ProgramResult Run(const std::vector<std::string>& arguments) {
        return testsupport::RunProgram(Program, arguments, Folder.Path(), {"HOME=" + Folder.Path()});
    }

    std::string StorePath(const std::string& relative) const { return Store + "/" + relative; }

    void PlaceInfo(const std::string& packageName, const std::string& bytes) {
        WriteFile(StorePath("packages/" + InfoFileName(packageName)), bytes);
    }

    void Install(const std::string& packageName) {
        const ProgramResult result = Run({"install", packageName});
        ASSERT_EQ(result.out, "Package '" + packageName + "' is now installed.\r\n") << result.err;
    }

    TempDir Folder;
    std::string Program;
    std::string Store;
    std::string IndexName;
};

// list only reads: it makes no store, index or lock file.
TEST_F(PackageCommandsTest, ListOfAMissingStoreMakesNothing) {
    const ProgramResult result = Run({"list"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "No packages are installed.\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(Exists(Folder / "Ironveil"));
}

TEST_F(PackageCommandsTest, InstalledPackageIsIndexedByteForByteAndListedAfterARestart) {
    PlaceInfo("pk", WorkedRecord);
    const ProgramResult install = Run({"install", "pk"});
    EXPECT_EQ(install.exitCode, 0);
    EXPECT_EQ(install.out, "Package 'pk' is now installed.\r\n");
    EXPECT_EQ(install.err, "");
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), std::string("\x47\x4B\x43\x50\x2E\x00\x00\x80", 8) + WorkedRecord);

    // A command that changes nothing leaves the index file alone.
    const auto written = std::filesystem::last_write_time(StorePath("packages.dat"));
    const ProgramResult list = Run({"LIST"});
    EXPECT_EQ(list.out, "The following packages are installed:\r\npk version 1 by me\r\n");
    EXPECT_EQ(list.err, "");
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), std::string("\x47\x4B\x43\x50\x2E\x00\x00\x80", 8) + WorkedRecord);
    EXPECT_EQ(std::filesystem::last_write_time(StorePath("packages.dat")), written);
}

// A record's texts may come from a repository: control bytes would reach the
// terminal as commands, so they are shown escaped; other bytes as they are.
TEST_F(PackageCommandsTest, ListShowsControlBytesOfARecordEscaped) {
    WriteFile(StorePath("packages.dat"), IndexEntry(PackageRecord("E\x1B[31mvil\r", "1\x1B]0;x\x07", "A\x7F\\B\n")) +
                                             IndexEntry(PackageRecord("Caf\xC3\xA9 ~", "2", "Z")));

    const ProgramResult list = Run({"list"});

    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out,
              "The following packages are installed:\r\n"
              "E\\x1B[31mvil\\x0D version 1\\x1B]0;x\\x07 by A\\x7F\\B\\x0A\r\n"
              "Caf\xC3\xA9 ~ version 2 by Z\r\n");
    EXPECT_EQ(list.err, "");
}

TEST_F(PackageCommandsTest, InstallingANameThatDiffersOnlyInCaseIsRefused) {
    PlaceInfo("foo", PackageRecord("foo", "1", "me"));
    Install("foo");
    const ProgramResult again = Run({"install", "Foo"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(again.err, "This package has already been installed.\r\n");
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), IndexEntry(PackageRecord("foo", "1", "me")));
}

// Looking for the file makes no folder for it.
TEST_F(PackageCommandsTest, InstallWithoutPackageInfoFileNamesTheStorePathAndMakesNothing) {
    const ProgramResult result = Run({"install", "Missing"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Could not open file 'packages/" + InfoFileName("Missing") + "'.\r\n");
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), "");
    EXPECT_FALSE(Exists(StorePath("packages")));

    // One that is there but cannot be opened is a failure of the store: the
    // line under the message says which file and why.
    testsupport::MakeFolders(StorePath("packages/" + InfoFileName("Missing")));
    testsupport::ExpectStoreCause(Run({"install", "Missing"}).err, result.err, "open",
                                  StorePath("packages/" + InfoFileName("Missing")));
}

TEST_F(PackageCommandsTest, UninstallOfAnUnknownNameChangesNothing) {
    PlaceInfo("A", PackageRecord("A", "1", "x"));
    Install("A");
    const ProgramResult result = Run({"uninstall", "B"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Could not find package to uninstall.\r\n");
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), IndexEntry(PackageRecord("A", "1", "x")));
}

TEST_F(PackageCommandsTest, ListOrderFollowsInstallOrderAcrossRuns) {
    for (const char* name : {"A", "B", "C"}) {
        PlaceInfo(name, PackageRecord(name, std::string("v") + name, "x"));
        Install(name);
    }
    EXPECT_EQ(Run({"list"}).out,
              "The following packages are installed:\r\nA version vA by x\r\n"
              "B version vB by x\r\nC version vC by x\r\n");
    const ProgramResult uninstall = Run({"uninstall", "b"});
    EXPECT_EQ(uninstall.out, "Package 'b' is now uninstalled.\r\n");
    EXPECT_EQ(uninstall.err, "");
    EXPECT_FALSE(Exists(StorePath("packages/" + InfoFileName("B"))));
    EXPECT_TRUE(Exists(StorePath("packages/" + InfoFileName("A"))));
    EXPECT_EQ(Run({"list"}).out, "The following packages are installed:\r\nA version vA by x\r\nC version vC by x\r\n");
}

TEST_F(PackageCommandsTest, UninstallDeletesOnlyContentFilesNoOtherPackageLists) {
    PlaceInfo("Maps", PackageRecord("Maps", "1", "x", {{0x11, "Shared.ini"}, {0x22, "maps/field.dds"}}));
    PlaceInfo("Units", PackageRecord("Units", "1", "x", {{0x11, "shared.ini"}, {0x33, "units.ini"}}));
    Install("Maps");
    Install("Units");
    for (const char* name : {"00000011.shared.ini", "00000022.maps_field.dds", "00000033.units.ini",
                             "00000033.UNITS.INI", ".hidden", "00000044.next.dds.part"}) {
        WriteFile(StorePath(std::string("files/") + name), "x");
    }

    EXPECT_EQ(Run({"uninstall", "maps"}).out, "Package 'maps' is now uninstalled.\r\n");
    EXPECT_EQ(ListFolder(StorePath("files")),
              (std::vector<std::string>{".hidden", "00000011.shared.ini", "00000033.units.ini"}));
    EXPECT_EQ(ReadFile(StorePath("packages.dat")),
              IndexEntry(PackageRecord("Units", "1", "x", {{0x11, "shared.ini"}, {0x33, "units.ini"}})));

    EXPECT_EQ(Run({"uninstall", "Units"}).out, "Package 'Units' is now uninstalled.\r\n");
    EXPECT_EQ(ListFolder(StorePath("files")), std::vector<std::string>{".hidden"});
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), "");
    EXPECT_EQ(Run({"list"}).out, "No packages are installed.\r\n");
}

// An index that holds more than its packages give back (a size field that
// cuts a package off, a chunk of another kind) is kept whole under a name
// that replaces nothing before the first save puts less in its place.
TEST_F(PackageCommandsTest, DamagedIndexIsKeptBeforeItIsReplaced) {
    std::string index;
    for (const char* name : {"A", "B", "C", "D", "E"}) {
        index += IndexEntry(PackageRecord(name, "1", "x", {{0x11, "a.ini"}}));
    }
    const std::string cutSize = index.replace(index.size() / 5 + 4, 1, 1, '\x10');
    const std::string foreign = IndexEntry(PackageRecord("A", "1", "x")) + testsupport::Chunk(0x4F4F4F46, "zz");
    const std::string copyName = IndexName + ".damaged";
    int copyNumber = 1;
    for (const std::string& damaged : {cutSize, foreign}) {
        WriteFile(StorePath("packages.dat"), damaged);
        const std::string copy = copyNumber == 1 ? "packages.dat.damaged" : "packages.dat.damaged.2";
        // list holds no lock, so it says so and leaves the index to the next
        // command that changes the store.
        const ProgramResult list = Run({"list"});
        EXPECT_EQ(list.exitCode, 0);
        EXPECT_EQ(list.err, "The package index '" + IndexName + "' held data that could not be read; the next " +
                                "command that changes the store keeps a copy of it.\r\n");
        EXPECT_EQ(ReadFile(StorePath("packages.dat")), damaged);
        EXPECT_FALSE(Exists(StorePath(copy)));

        const ProgramResult first = Run({"uninstall", "Unknown"});
        EXPECT_EQ(first.exitCode, 0);
        EXPECT_EQ(first.err, "Could not find package to uninstall.\r\nThe package index '" + IndexName +
                                 "' held data that could not be read; a copy of it was kept as '" + copyName +
                                 (copyNumber == 1 ? "" : ".2") + "'.\r\n");
        EXPECT_EQ(ReadFile(StorePath(copy)), damaged);
        // What could be read is listed and is all the new index holds: a
        // second run sees a sound index, lists the same and keeps no copy.
        const ProgramResult second = Run({"list"});
        EXPECT_EQ(second.out, list.out);
        EXPECT_EQ(second.err, "");
        ++copyNumber;
    }
    EXPECT_EQ(ListFolder(Store), (std::vector<std::string>{".packages.lock", "packages.dat", "packages.dat.damaged",
                                                           "packages.dat.damaged.2"}));
}

// Only a missing index is an empty one: an index that is there but cannot be
// read stops every command that needs it before anything is written.
TEST_F(PackageCommandsTest, IndexThatCannotBeReadStopsTheCommand) {
    PlaceInfo("A", PackageRecord("A", "1", "x"));
    testsupport::MakeFolders(StorePath("packages.dat"));
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"list"}, {"install", "A"}, {"uninstall", "A"}, {"download", "A", "http://127.0.0.1:9/"}}) {
        const ProgramResult result = Run(command);
        EXPECT_EQ(result.exitCode, 1) << command[0];
        EXPECT_EQ(result.out, "") << command[0];
        testsupport::ExpectStoreCause(result.err, "Could not read the package index '" + IndexName + "'.\r\n", "open",
                                      StorePath("packages.dat"));
    }
    EXPECT_EQ(ListFolder(Store), (std::vector<std::string>{".packages.lock", "packages", "packages.dat"}));
}

TEST_F(PackageCommandsTest, InstallRegistersOnlyAPackageInfoFileThatDescribesThePackage) {
    for (const std::string& record : {PackageRecord("Bar", "1", "x"), std::string()}) {
        PlaceInfo("foo", record);
        const ProgramResult result = Run({"install", "foo"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err,
                  "The package-info file 'packages/" + InfoFileName("foo") + "' does not describe package 'foo'.\r\n");
        EXPECT_EQ(ReadFile(StorePath("packages/" + InfoFileName("foo"))), record);
        EXPECT_EQ(ReadFile(StorePath("packages.dat")), "");
    }
}

// A store that publishes packages holds many converted packages and few
// installed ones: the files of a package-info file in the store stay.
TEST_F(PackageCommandsTest, UninstallKeepsTheFilesThatPackageInfoFilesInTheStoreList) {
    PlaceInfo("Maps", PackageRecord("Maps", "1", "x", {{0x11, "shared.ini"}, {0x22, "maps.dds"}}));
    PlaceInfo("Other", PackageRecord("Other", "1", "x", {{0x11, "shared.ini"}, {0x33, "other.ini"}}));
    for (const char* name : {"00000011.shared.ini", "00000022.maps.dds", "00000033.other.ini"}) {
        WriteFile(StorePath(std::string("files/") + name), "x");
    }
    Install("Other");
    // A package-info file that cannot be read (a folder stands in for one
    // the user may not read, which root, running the tests, always may) may
    // list any content file: every one stays, and the command says why.
    testsupport::MakeFolders(StorePath("packages/0badf11e.kpi"));
    const ProgramResult blocked = Run({"uninstall", "Other"});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_EQ(blocked.out, "Package 'Other' is now uninstalled.\r\n");
    testsupport::ExpectStoreCause(blocked.err,
                                  "Could not read 'packages/0badf11e.kpi', so no content file was deleted.\r\n", "open",
                                  StorePath("packages/0badf11e.kpi"));
    EXPECT_EQ(ListFolder(StorePath("files")),
              (std::vector<std::string>{"00000011.shared.ini", "00000022.maps.dds", "00000033.other.ini"}));

    std::filesystem::remove(StorePath("packages/0badf11e.kpi"));
    PlaceInfo("Other", PackageRecord("Other", "1", "x", {{0x11, "shared.ini"}, {0x33, "other.ini"}}));
    Install("Other");
    EXPECT_EQ(Run({"uninstall", "Other"}).err, "");
    EXPECT_EQ(ListFolder(StorePath("files")), (std::vector<std::string>{"00000011.shared.ini", "00000022.maps.dds"}));
    EXPECT_EQ(ListFolder(StorePath("packages")), std::vector<std::string>{InfoFileName("Maps")});
    EXPECT_EQ(Run({"install", "Maps"}).exitCode, 0);
}

// Verify reads every content file that an installed package or a
// package-info file lists, once, and takes a damaged one out of its name so
// that the next download or conversion writes it again.
TEST_F(PackageCommandsTest, VerifyReportsDamagedAndMissingFilesAndRemovesTheDamagedOnes) {
    const ProgramResult empty = Run({"verify"});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "All 0 content files of 0 packages are whole.\r\n");

    const std::vector<std::pair<std::string, std::string>> files = {
        {"whole.txt", "alpha"}, {"zeroed.txt", "bravo"}, {"missing.txt", "charlie"}, {"cut.txt", "delta"}};
    std::vector<testsupport::ListedFile> listed;
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files) {
        listed.push_back({testsupport::Crc(bytes), name, static_cast<uint32_t>(bytes.size())});
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, "%08X.", testsupport::Crc(bytes));
        paths.push_back("files/" + std::string(checksum) + name);
    }
    PlaceInfo("Maps", PackageRecord("Maps", "1", "x", listed));
    PlaceInfo("Units", PackageRecord("Units", "1", "x", {listed[0], listed[1]}));
    Install("Maps");
    const auto place = [&](const std::vector<std::string>& contents) {
        for (size_t index = 0; index < paths.size(); ++index) {
            if (index != 2 || !contents[2].empty()) {
                WriteFile(StorePath(paths[index]), contents[index]);
            }
        }
    };
    place({"alpha", std::string(5, '\0'), "", "del"});

    const ProgramResult damaged = Run({"verify"});
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_EQ(damaged.out, "Damaged: " + paths[1] + " (Maps, Units)\r\nMissing: " + paths[2] +
                               " (Maps)\r\nDamaged: " + paths[3] +
                               " (Maps)\r\n3 of 4 content files are damaged or missing. Download their packages "
                               "again to mend them.\r\n");
    EXPECT_EQ(damaged.err, "");
    EXPECT_EQ(ListFolder(StorePath("files")), std::vector<std::string>{paths[0].substr(6)});

    place({"alpha", "bravo", "charlie", "delta"});
    const ProgramResult whole = Run({"verify"});
    EXPECT_EQ(whole.exitCode, 0);
    EXPECT_EQ(whole.out, "All 4 content files of 2 packages are whole.\r\n");
}

// The identifier is the checksum of the upper-cased name, so a name with the
// identifier of Maps is easily made. It is another package: no command acts
// on Maps in its name.
TEST_F(PackageCommandsTest, NameThatOnlySharesTheIdentifierOfAPackageActsOnNothing) {
    ASSERT_EQ(HashName(testsupport::MapsTwin.c_str()), HashName("Maps"));
    const std::string maps = PackageRecord("Maps", "1", "x", {{0x11, "maps.dds"}});
    const std::string taken = "Package '" + testsupport::MapsTwin + "' cannot be used: its identifier " +
                              InfoFileName("Maps").substr(0, 8) + " belongs to package 'Maps'.\r\n";
    PlaceInfo("Maps", maps);
    WriteFile(StorePath("files/00000011.maps.dds"), "x");
    const ProgramResult beforeInstall = Run({"install", testsupport::MapsTwin});
    EXPECT_EQ(beforeInstall.exitCode, 1);
    EXPECT_EQ(beforeInstall.err, taken);
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), "");

    Install("Maps");
    for (const char* command : {"install", "uninstall"}) {
        const ProgramResult result = Run({command, testsupport::MapsTwin});
        EXPECT_EQ(result.exitCode, 1) << command;
        EXPECT_EQ(result.out, "") << command;
        EXPECT_EQ(result.err, taken) << command;
    }
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), IndexEntry(maps));
    EXPECT_EQ(ReadFile(StorePath("packages/" + InfoFileName("Maps"))), maps);
    EXPECT_TRUE(Exists(StorePath("files/00000011.maps.dds")));
}

// On Windows a backslash separates folders, so no file name can hold one;
// elsewhere it is an ordinary byte of a name.
#ifndef _WIN32
TEST_F(PackageCommandsTest, CleanupDeletesListedNamesExactlyAndNothingOutsideTheContentFolder) {
    PlaceInfo("A", PackageRecord("A", "1", "x"));
    PlaceInfo("B", PackageRecord("B", "1", "x"));
    Install("A");
    Install("B");
    testsupport::MakeFolders(StorePath("files/x"));
    WriteFile(Folder / "Ironveil/Ironveil/outside.txt", "keep");
    const std::vector<std::string> strays = {"x\\..\\..\\packages\\" + InfoFileName("B"), "x\\..\\..\\packages.dat",
                                             "x\\..\\..\\..\\outside.txt"};
    for (const std::string& stray : strays) {
        WriteFile(StorePath("files/" + stray), "stray");
    }
    EXPECT_EQ(Run({"uninstall", "A"}).out, "Package 'A' is now uninstalled.\r\n");
    EXPECT_EQ(ListFolder(StorePath("files")), std::vector<std::string>{"x"});
    EXPECT_TRUE(Exists(StorePath("packages/" + InfoFileName("B"))));
    EXPECT_EQ(ReadFile(Folder / "Ironveil/Ironveil/outside.txt"), "keep");
    EXPECT_EQ(Run({"list"}).out, "The following packages are installed:\r\nB version 1 by x\r\n");
}
#endif

// Nothing is reported done, and nothing deleted, before the index that says
// so is on disk.
TEST_F(PackageCommandsTest, IndexThatCannotBeCreatedKeepsTheOldOneAndTheStoreAsItWas) {
    PlaceInfo("A", PackageRecord("A", "1", "x", {{0x11, "a.ini"}}));
    PlaceInfo("B", PackageRecord("B", "1", "x"));
    WriteFile(StorePath("files/00000011.a.ini"), "x");
    Install("A");
    const std::string before = ReadFile(StorePath("packages.dat"));
    WriteFile(StorePath("packages.dat.new/blocker"), "x");

    for (const char* command : {"install B", "uninstall A"}) {
        const std::string text = command;
        const ProgramResult result = Run({text.substr(0, text.find(' ')), text.substr(text.find(' ') + 1)});
        EXPECT_EQ(result.exitCode, 1) << command;
        EXPECT_EQ(result.out, "") << command;
        testsupport::ExpectStoreCause(result.err, "Could not save the package index '" + IndexName + "'.\r\n", "delete",
                                      StorePath("packages.dat.new"));
        EXPECT_EQ(ReadFile(StorePath("packages.dat")), before) << command;
    }
    EXPECT_TRUE(Exists(StorePath("packages/" + InfoFileName("A"))));
    EXPECT_TRUE(Exists(StorePath("files/00000011.a.ini")));
}

TEST_F(PackageCommandsTest, IndexThatCannotBeWrittenCompletelyKeepsTheOldOneAndIsReported) {
    // A store on a small disk, filled up once the first package is installed.
    testsupport::SmallDisk disk(Store, 64 * 1024);
    if (!disk.IsMounted()) {
        GTEST_SKIP() << disk.Failure();
    }
    PlaceInfo("A", PackageRecord("A", "1", "x"));
    PlaceInfo("B", PackageRecord("B", "1", "x"));
    Install("A");
    const std::string before = ReadFile(StorePath("packages.dat"));
    ASSERT_TRUE(disk.Fill(StorePath("filler"), 0));

    const ProgramResult result = Run({"install", "B"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    testsupport::ExpectStoreCause(result.err, "Could not save the package index '" + IndexName + "'.\r\n", "write",
                                  StorePath("packages.dat.new"));
    ASSERT_FALSE(std::filesystem::is_symlink(StorePath("packages.dat")));
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), before);
    EXPECT_FALSE(Exists(StorePath("packages.dat.new")));
    EXPECT_EQ(Run({"list"}).out, "The following packages are installed:\r\nA version 1 by x\r\n");
}

// list takes no lock, so a store the user may only read (a read-only file
// system here) is listed all the same, and nothing is written to it.
TEST_F(PackageCommandsTest, ListWorksOnAStoreThatCannotBeWritten) {
    testsupport::SmallDisk disk(Store, 1024 * 1024);
    if (!disk.IsMounted()) {
        GTEST_SKIP() << disk.Failure();
    }
    PlaceInfo("A", PackageRecord("A", "1", "x"));
    Install("A");
    ASSERT_TRUE(disk.MakeReadOnly());

    const ProgramResult list = Run({"list"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.out, "The following packages are installed:\r\nA version 1 by x\r\n");
    EXPECT_EQ(list.err, "");
    const ProgramResult install = Run({"install", "B"});
    EXPECT_EQ(install.exitCode, 1);
    EXPECT_EQ(install.err.substr(0, 33), "Could not use the package store '") << install.err;
}

// An installed program without a paths.ini, in a folder it cannot write (a
// read-only file system here, which refuses root too), keeps its data in the
// user's folders, as a paths.ini with its defaults gives them, and makes
// nothing beside itself.
TEST_F(PackageCommandsTest, ProgramInAFolderItCannotWriteUsesTheUserFolders) {
    const std::string installed = Folder / "installed";
    testsupport::SmallDisk disk(installed, 32 * 1024 * 1024);
    if (!disk.IsMounted()) {
        GTEST_SKIP() << disk.Failure();
    }
    const std::string program = testsupport::CopyProgramInto(installed);
    ASSERT_TRUE(disk.MakeReadOnly());
    const std::string home = Folder / "home";
    const auto run = [&](const std::vector<std::string>& arguments) {
        return testsupport::RunProgram(program, arguments, Folder.Path(),
                                       {"HOME=" + home, "XDG_DATA_HOME", "XDG_CONFIG_HOME"});
    };

    const ProgramResult list = run({"list"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.out, "No packages are installed.\r\n");
    EXPECT_EQ(list.err, "");
    const ProgramResult convert = run({"convert", "Maps.mix", "1.0", "x"});
    EXPECT_EQ(convert.exitCode, 1);
#ifdef _WIN32
    // The user's folders of Windows live in the profile, which a test cannot
    // move: the cause line shows only that the program's folder is not used.
    EXPECT_EQ(convert.err.rfind("Failed to open input file 'Maps.mix'.\r\nCould not open '", 0), 0u) << convert.err;
    EXPECT_EQ(convert.err.find(testsupport::NativeSpelling(installed)), std::string::npos) << convert.err;
#else
    testsupport::ExpectStoreCause(convert.err, "Failed to open input file 'Maps.mix'.\r\n", "open",
                                  home + "/Documents/Ironveil/FDS/Maps.mix");
    EXPECT_EQ(run({"install", "Missing"}).exitCode, 1);
    EXPECT_TRUE(Exists(home + "/.local/share/Ironveil/Ironveil/mofs/packages.dat"));
#endif
    EXPECT_FALSE(Exists(installed + "/Ironveil"));
}

// The POSIX backend finds the application-data folder through HOME; Windows
// keeps it in the user's profile, which a test cannot move.
#ifndef _WIN32
TEST_F(PackageCommandsTest, PathsIniCanMoveTheStoreToTheApplicationDataFolder) {
    WriteFile(Folder / "DATA/paths.ini", "[paths]\r\nUseIvoFolder=0\r\nFileBase=Arena\r\n");
    const std::string home = Folder / "home";
    const ProgramResult result =
        testsupport::RunProgram(Program, {"install", "Missing"}, Folder.Path(), {"HOME=" + home, "XDG_DATA_HOME"});
    EXPECT_EQ(result.err, "Could not open file 'packages/" + InfoFileName("Missing") + "'.\r\n");
    EXPECT_TRUE(Exists(home + "/.local/share/Arena/Arena/mofs/packages.dat"));
    EXPECT_FALSE(Exists(Folder / "Arena"));
}

TEST_F(PackageCommandsTest, WithoutHomeTheProgramFolderHoldsTheStore) {
    WriteFile(Folder / "DATA/paths.ini", "[paths]\r\nUseIvoFolder=0\r\nFileBase=Arena\r\n");
    const ProgramResult result = testsupport::RunProgram(Program, {"install", "Missing"}, Folder.Path(), {"HOME"});
    EXPECT_EQ(result.err, "Could not open file 'packages/" + InfoFileName("Missing") + "'.\r\n");
    EXPECT_TRUE(Exists(Folder / "Arena/Arena/mofs/packages.dat"));
}
#endif

TEST_F(PackageCommandsTest, CommandsThatNeverReachTheStoreLeaveNoStore) {
    Run({"install"});
    Run({"unknown"});
    EXPECT_FALSE(Exists(Folder / "Ironveil"));
}

}  // namespace
