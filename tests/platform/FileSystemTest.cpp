#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "support/TestSupport.h"

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// The whole contents of a file opened through the platform layer; empty when
// the open fails.
std::string ReadThrough(const std::string& path) {
    const platform::FileHandle file = platform::OpenFile(path.c_str(), 1);
    if (file == platform::InvalidFileHandle) {
        return "";
    }
    std::string bytes(1024, '\0');
    bytes.resize(static_cast<size_t>(std::max<int64_t>(platform::ReadFile(file, bytes.data(), 1024), 0)));
    EXPECT_TRUE(platform::CloseFile(file));
    return bytes;
}

TEST(FileSystemTest, ReadingFindsAFileWhoseNameDiffersInLetterCase) {
    TempDir folder;
    WriteFile(folder / "Data/Save/Always.DAT", "always");
    EXPECT_EQ(ReadThrough(folder.Path() + "\\DATA\\SAVE\\always.dat"), "always");
    EXPECT_TRUE(platform::PathExists((folder.Path() + "\\Data\\Save\\Always.DAT").c_str()));
#ifndef _WIN32
    // Windows itself ignores letter case in every name.
    EXPECT_FALSE(platform::PathExists((folder.Path() + "\\data\\save\\ALWAYS.dat").c_str()));
#endif
    EXPECT_FALSE(platform::PathExists((folder.Path() + "\\Data\\missing.dat").c_str()));
    EXPECT_EQ(platform::OpenFile((folder.Path() + "\\DATA\\nothing\\always.dat").c_str(), 1),
              platform::InvalidFileHandle);
}

// Only a file system that tells letter cases apart can hold names that differ
// in case alone; Windows file systems are never such.
#ifndef _WIN32
TEST(FileSystemTest, ExactSpellingWinsThenTheFirstNameInByteOrder) {
    TempDir folder;
    WriteFile(folder / "name.txt", "lower");
    WriteFile(folder / "NAME.txt", "upper");
    WriteFile(folder / "Name.txt", "mixed");
    EXPECT_EQ(ReadThrough(folder / "name.txt"), "lower");
    EXPECT_EQ(ReadThrough(folder / "Name.txt"), "mixed");
    EXPECT_EQ(ReadThrough(folder / "nAME.TXT"), "upper");
}

TEST(FileSystemTest, WritingUsesThePathAsSpelled) {
    TempDir folder;
    WriteFile(folder / "Always.DAT", "old");
    const platform::FileHandle file = platform::OpenFile((folder.Path() + "\\always.dat").c_str(), 2);
    ASSERT_NE(file, platform::InvalidFileHandle);
    EXPECT_EQ(platform::WriteFile(file, "new", 3), 3);
    EXPECT_TRUE(platform::CloseFile(file));
    EXPECT_EQ(ReadFile(folder / "always.dat"), "new");
    EXPECT_EQ(ReadFile(folder / "Always.DAT"), "old");
    EXPECT_FALSE(platform::DeleteFile((folder.Path() + "\\ALWAYS.DAT").c_str()));
}
#endif

TEST(FileSystemTest, FoldersCannotBeOpenedAsFilesNorHaveAFileSize) {
    TempDir folder;
    testsupport::MakeFolders(folder / "sub");
    for (int rights : {0, 1, 2, 3, 4}) {
        EXPECT_EQ(platform::OpenFile((folder / "sub").c_str(), rights), platform::InvalidFileHandle);
    }
    EXPECT_TRUE(platform::PathExists((folder / "sub").c_str()));
    WriteFile(folder / "sub/five", "12345");
    EXPECT_EQ(platform::PathFileSize((folder.Path() + "\\sub\\five").c_str()), 5);
    EXPECT_EQ(platform::PathFileSize((folder / "sub").c_str()), -1);
    EXPECT_EQ(platform::PathFileSize((folder / "sub/gone").c_str()), -1);
}

// A file is continued in place only when it is its own: a link would carry
// the writes to a file elsewhere.
TEST(FileSystemTest, ContinuingOpensOnlyAnExistingFileWithNoOtherName) {
    TempDir folder;
    WriteFile(folder / "own.part", "start");
    const platform::FileHandle own = platform::OpenFile((folder / "own.part").c_str(), 4);
    ASSERT_NE(own, platform::InvalidFileHandle);
    char start[8] = {};
    EXPECT_EQ(platform::ReadFile(own, start, sizeof start), 5);
    EXPECT_EQ(platform::WriteFile(own, "+rest", 5), 5);
    EXPECT_TRUE(platform::CloseFile(own));
    EXPECT_EQ(ReadFile(folder / "own.part"), "start+rest");

    EXPECT_EQ(platform::OpenFile((folder / "missing.part").c_str(), 4), platform::InvalidFileHandle);
    EXPECT_FALSE(Exists(folder / "missing.part"));
    WriteFile(folder / "outside.txt", "elsewhere");
    std::filesystem::create_hard_link((folder / "outside.txt").c_str(), (folder / "hard.part").c_str());
    EXPECT_EQ(platform::OpenFile((folder / "hard.part").c_str(), 4), platform::InvalidFileHandle);
#ifndef _WIN32
    // (Wine deletes what a host link leads to; the hard link covers the backend.)
    std::filesystem::create_symlink((folder / "outside.txt").c_str(), (folder / "soft.part").c_str());
    EXPECT_EQ(platform::OpenFile((folder / "soft.part").c_str(), 4), platform::InvalidFileHandle);
#endif
    EXPECT_EQ(ReadFile(folder / "outside.txt"), "elsewhere");
}

TEST(FileSystemTest, ReplaceSwapsInTheNewFileWhole) {
    TempDir folder;
    WriteFile(folder / "packages.dat", "old index");
    WriteFile(folder / "packages.dat.new", "new index");
    EXPECT_TRUE(platform::ReplaceFile((folder.Path() + "\\packages.dat.new").c_str(),
                                      (folder.Path() + "\\packages.dat").c_str()));
    EXPECT_EQ(ReadFile(folder / "packages.dat"), "new index");
    EXPECT_FALSE(Exists(folder / "packages.dat.new"));
    EXPECT_FALSE(platform::ReplaceFile((folder / "gone").c_str(), (folder / "packages.dat").c_str()));
    EXPECT_EQ(ReadFile(folder / "packages.dat"), "new index");
}

TEST(FileSystemTest, MoveRefusesToReplaceAnExistingFile) {
    TempDir folder;
    WriteFile(folder / "a.part", "download");
    WriteFile(folder / "b", "kept");
    EXPECT_FALSE(platform::MoveFile((folder / "a.part").c_str(), (folder / "b").c_str()));
    EXPECT_EQ(ReadFile(folder / "b"), "kept");
    EXPECT_TRUE(platform::MoveFile((folder / "a.part").c_str(), (folder / "a").c_str()));
    EXPECT_EQ(ReadFile(folder / "a"), "download");
    EXPECT_FALSE(Exists(folder / "a.part"));
}

TEST(FileSystemTest, CopyReplacesTheDestinationButNeverTruncatesItsSource) {
    TempDir folder;
    WriteFile(folder / "source", std::string(100000, 'x'));
    WriteFile(folder / "target", "previous contents");
    EXPECT_TRUE(platform::CopyFile((folder / "source").c_str(), (folder / "target").c_str()));
    EXPECT_EQ(ReadFile(folder / "target"), std::string(100000, 'x'));
    EXPECT_FALSE(platform::CopyFile((folder / "source").c_str(), (folder.Path() + "/./source").c_str()));
    EXPECT_EQ(ReadFile(folder / "source").size(), 100000u);
}

TEST(FileSystemTest, FoldersAreCreatedAndListed) {
    TempDir folder;
    EXPECT_TRUE(platform::CreateFolder((folder.Path() + "\\mofs").c_str()));
    EXPECT_TRUE(platform::CreateFolder((folder.Path() + "\\mofs").c_str()));
    EXPECT_FALSE(platform::CreateFolder((folder.Path() + "\\a\\b").c_str()));
    WriteFile(folder / "mofs/file.txt", "");
    EXPECT_FALSE(platform::CreateFolder((folder / "mofs/file.txt").c_str()));
    std::vector<std::string> names;
    ASSERT_TRUE(platform::ListFolder((folder.Path() + "\\mofs").c_str(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "file.txt"}));
    EXPECT_FALSE(platform::ListFolder((folder / "missing").c_str(), names));
}

// The store treats a folder that is not there as one with no names to sync,
// so a missing folder must be told apart from one that was synced.
TEST(FileSystemTest, SyncFolderSucceedsOnAFolderAndFailsOnAMissingOne) {
    TempDir folder;
    WriteFile(folder / "mofs/files/a", "a");
    EXPECT_TRUE(platform::SyncFolder((folder.Path() + "\\mofs\\files").c_str()));
    EXPECT_TRUE(platform::SyncFolder((folder / "mofs").c_str()));
    EXPECT_FALSE(platform::SyncFolder((folder / "missing").c_str()));
    EXPECT_FALSE(platform::SyncFolder((folder / "missing/files").c_str()));
}

TEST(FileSystemTest, SeekAndSizeUseSixtyFourBitPositions) {
    TempDir folder;
    WriteFile(folder / "f", "0123456789");
    const platform::FileHandle file = platform::OpenFile((folder / "f").c_str(), 0);
    ASSERT_NE(file, platform::InvalidFileHandle);
    EXPECT_EQ(platform::SeekFile(file, int64_t{5} << 32, 0), int64_t{5} << 32);
    EXPECT_EQ(platform::SeekFile(file, -1, 0), -1);
    EXPECT_EQ(platform::SeekFile(file, 0, 1), int64_t{5} << 32);
    EXPECT_EQ(platform::SeekFile(file, 0, 3), -1);
    EXPECT_EQ(platform::FileSize(file), 10);
    EXPECT_TRUE(platform::FlushFile(file));
    EXPECT_TRUE(platform::CloseFile(file));
}

TEST(FileSystemTest, CurrentDirectoryIsAbsoluteWithoutTrailingSeparator) {
    const std::string current = platform::CurrentDirectory();
    ASSERT_FALSE(current.empty());
#ifdef _WIN32
    // The root of a drive is given as "C:", so that appending a separator
    // gives the root again.
    ASSERT_GE(current.size(), 2u);
    EXPECT_EQ(current[1], ':');
    EXPECT_NE(current.back(), '\\');
#else
    EXPECT_EQ(current.front(), '/');
    EXPECT_TRUE(current == "/" || current.back() != '/');
#endif
}

}  // namespace
