#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/DataPaths.h"
#include "file/SimpleFileFactoryClass.h"
#include "platform/ShellFolders.h"
#include "support/TestSupport.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

TEST(DataPathsTest, UseIvoFolderTruthRule) {
    for (const char* value : {"1", "yes", "true", "t", "-1", "y", "12abc", " 3"}) {
        EXPECT_TRUE(IsTrueSetting(value)) << value;
    }
    for (const char* value : {"0", "no", "Yes", "TRUE", "off", "", "abc", "-0"}) {
        EXPECT_FALSE(IsTrueSetting(value)) << value;
    }
    EXPECT_FALSE(IsTrueSetting(nullptr));
}

struct ComposedPaths {
    std::string gameFiles;
    std::string storeBase;
};

ComposedPaths Compose(const char* fileBase, bool useProgramFolder, const char* documents, const char* appData) {
    DataPathSettings settings;
    settings.fileBase = fileBase;
    settings.useProgramFolder = useProgramFolder;
    DataPathBases bases;
    bases.programFolder = "C:\\Game";
    bases.documentsFolder = documents;
    bases.applicationDataFolder = appData;
    StringClass gameFiles;
    StringClass storeBase;
    ComposeDataPaths(settings, bases, gameFiles, storeBase);
    return {gameFiles.Peek(), storeBase.Peek()};
}

TEST(DataPathsTest, ProgramFolderIsTheBaseOfBothPathsWhenChosen) {
    const ComposedPaths paths = Compose("Ironveil", true, "D:\\Docs", "D:\\App");
    EXPECT_EQ(paths.gameFiles, "C:\\Game\\Ironveil\\FDS\\");
    EXPECT_EQ(paths.storeBase, "C:\\Game\\Ironveil\\Ironveil\\");
}

TEST(DataPathsTest, ShellFoldersAreTheBasesOtherwiseWithFileBaseTwiceInTheStorePath) {
    const ComposedPaths paths = Compose("Arena", false, "D:\\Docs", "D:\\App");
    EXPECT_EQ(paths.gameFiles, "D:\\Docs\\Arena\\FDS\\");
    EXPECT_EQ(paths.storeBase, "D:\\App\\Arena\\Arena\\");
}

TEST(DataPathsTest, EachPathFallsBackToTheProgramFolderByItself) {
    EXPECT_EQ(Compose("B", false, nullptr, "/app").gameFiles, "C:\\Game\\B\\FDS\\");
    EXPECT_EQ(Compose("B", false, nullptr, "/app").storeBase, "/app\\B\\B\\");
    EXPECT_EQ(Compose("B", false, "/docs", nullptr).storeBase, "C:\\Game\\B\\B\\");
}

// An installed program's folder (a system program folder, or one the user
// cannot write) gives way to the user's folders unless a paths.ini asks for it.
TEST(DataPathsTest, AProgramFolderThatCannotHoldDataGivesWayToTheUserFoldersWithoutAPathsIni) {
    DataPathBases bases;
    bases.programFolder = "/usr/bin";
    bases.programFolderHoldsData = false;
    bases.documentsFolder = "/home/ann/Documents";
    bases.applicationDataFolder = "/home/ann/.local/share";
    StringClass gameFiles;
    StringClass storeBase;
    ComposeDataPaths(DataPathSettings(), bases, gameFiles, storeBase);
    EXPECT_STREQ(gameFiles, "/home/ann/Documents\\Ironveil\\FDS\\");
    EXPECT_STREQ(storeBase, "/home/ann/.local/share\\Ironveil\\Ironveil\\");

    DataPathSettings asked;
    asked.fromFile = true;
    ComposeDataPaths(asked, bases, gameFiles, storeBase);
    EXPECT_STREQ(storeBase, "/usr/bin\\Ironveil\\Ironveil\\");
}

TEST(DataPathsTest, LongPathsAreComposedWhole) {
    const std::string longName(600, 'n');
    const ComposedPaths paths = Compose(longName.c_str(), true, nullptr, nullptr);
    EXPECT_EQ(paths.storeBase, "C:\\Game\\" + longName + "\\" + longName + "\\");
}

struct SettingsCase {
    const char* description;
    const char* iniText;  // null: no paths.ini at all
    const char* fileBase;
    const char* fileFds;
    bool useProgramFolder;
};

class DataPathSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(DataPathSettingsTest, ReadsTheKeysOrTheirDefaults) {
    TempDir folder;
    if (GetParam().iniText != nullptr) {
        WriteFile(folder / "paths.ini", GetParam().iniText);
    }
    SimpleFileFactoryClass factory;
    factory.SetSearchPath((folder.Path() + "/").c_str());
    const DataPathSettings settings = ReadDataPathSettings(&factory);
    EXPECT_STREQ(settings.fileBase, GetParam().fileBase) << GetParam().description;
    EXPECT_STREQ(settings.fileFds, GetParam().fileFds) << GetParam().description;
    EXPECT_EQ(settings.useProgramFolder, GetParam().useProgramFolder) << GetParam().description;
    EXPECT_EQ(settings.fromFile, GetParam().iniText != nullptr) << GetParam().description;
}

INSTANTIATE_TEST_SUITE_P(
    Files, DataPathSettingsTest,
    ::testing::Values(SettingsCase{"no file", nullptr, "Ironveil", "FDS", true},
                      SettingsCase{"no paths section", "[other]\nFileBase=X\n", "Ironveil", "FDS", false},
                      SettingsCase{"only FileBase", "[paths]\nFileBase=Arena\n", "Arena", "FDS", false},
                      SettingsCase{"all three", "[PATHS]\nfilebase=A\nFILEFDS=B\nUseIvoFolder=yes\n", "A", "B", true},
                      SettingsCase{"upper-case TRUE counts as false", "[paths]\nUseIvoFolder=TRUE\n", "Ironveil", "FDS",
                                   false}));

TEST(DataPathsTest, NoFactoryMeansNoFile) {
    const DataPathSettings settings = ReadDataPathSettings(nullptr);
    EXPECT_STREQ(settings.fileBase, "Ironveil");
    EXPECT_TRUE(settings.useProgramFolder);
}

// The POSIX backend's shell folders; the Windows ones are tested with the
// platform layer.
#ifndef _WIN32

// Runs each test with its own HOME and without the XDG variables, and puts
// the test program's environment back afterwards.
class ShellFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : VariableNames) {
            const char* value = std::getenv(name);
            Saved.emplace_back(value != nullptr, value != nullptr ? value : "");
            unsetenv(name);
        }
        setenv("HOME", Home.Path().c_str(), 1);
    }
    void TearDown() override {
        for (size_t index = 0; index < Saved.size(); ++index) {
            if (Saved[index].first) {
                setenv(VariableNames[index], Saved[index].second.c_str(), 1);
            } else {
                unsetenv(VariableNames[index]);
            }
        }
    }
    std::string Documents() {
        std::string folder;
        EXPECT_TRUE(platform::GetDocumentsFolder(folder));
        return folder;
    }
    std::string ApplicationData() {
        std::string folder;
        EXPECT_TRUE(platform::GetApplicationDataFolder(folder));
        return folder;
    }

    static constexpr const char* VariableNames[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};
    std::vector<std::pair<bool, std::string>> Saved;
    TempDir Home;
};

TEST_F(ShellFoldersTest, DefaultsBelowHome) {
    EXPECT_EQ(Documents(), Home.Path() + "/Documents");
    EXPECT_EQ(ApplicationData(), Home.Path() + "/.local/share");
}

TEST_F(ShellFoldersTest, DataHomeCountsOnlyWhenAbsolute) {
    setenv("XDG_DATA_HOME", "/srv/data/", 1);
    EXPECT_EQ(ApplicationData(), "/srv/data");
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(ApplicationData(), Home.Path() + "/.local/share");
}

TEST_F(ShellFoldersTest, DocumentsComeFromTheUserDirsFileWithHomeExpanded) {
    WriteFile(Home / ".config/user-dirs.dirs",
              "# written by the desktop\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/My Papers\"\n");
    EXPECT_EQ(Documents(), Home.Path() + "/My Papers");

    WriteFile(Home / "elsewhere/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/data/docs\"\n");
    setenv("XDG_CONFIG_HOME", (Home.Path() + "/elsewhere").c_str(), 1);
    EXPECT_EQ(Documents(), "/data/docs");
}

TEST_F(ShellFoldersTest, UserDirsFileWithoutDocumentsFallsBackToHomeDocuments) {
    WriteFile(Home / ".config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Music\"\nXDG_DOCUMENTS_DIR=\"relative\"\n");
    EXPECT_EQ(Documents(), Home.Path() + "/Documents");
}

TEST_F(ShellFoldersTest, LookupFailsWithoutHome) {
    std::string folder = "unchanged";
    unsetenv("HOME");
    EXPECT_FALSE(platform::GetDocumentsFolder(folder));
    EXPECT_FALSE(platform::GetApplicationDataFolder(folder));
    setenv("HOME", "", 1);
    EXPECT_FALSE(platform::GetDocumentsFolder(folder));
    EXPECT_FALSE(platform::GetApplicationDataFolder(folder));
    EXPECT_EQ(folder, "unchanged");
}

TEST(ProgramFolderTest, SystemProgramFoldersAreTheSystemsOwnTrees) {
    for (const char* folder : {"/usr", "/usr/bin", "/usr/local/games", "/bin", "/sbin", "/opt", "/opt/game"}) {
        EXPECT_TRUE(platform::IsSystemProgramFolder(folder)) << folder;
        EXPECT_FALSE(platform::MayHoldDataFolders(folder)) << folder;
    }
    for (const char* folder : {"/usr2", "/optional", "/home/ann/bin", "/srv/usr/bin", ""}) {
        EXPECT_FALSE(platform::IsSystemProgramFolder(folder)) << folder;
    }
    TempDir writable;
    EXPECT_TRUE(platform::MayHoldDataFolders(writable.Path()));
    EXPECT_FALSE(platform::MayHoldDataFolders(writable.Path() + "/missing"));
}

TEST(ProgramFolderTest, IsTheResolvedFolderOfTheRunningProgram) {
    const std::string expected = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    EXPECT_EQ(platform::GetProgramFolder(), expected);
    EXPECT_NE(expected.back(), '/');
}

#endif

}  // namespace
