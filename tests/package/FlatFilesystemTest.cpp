#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "file/FileClass.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "package/PackageFileInfo.h"
#include "support/TestSupport.h"

namespace {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(DirectoryStructureTest, NamesTheThreeKindsOfStoreFile) {
    DirectoryStructure layout;
    EXPECT_STREQ(layout.GetDatabasePath(), "packages.dat");
    EXPECT_STREQ(layout.GetContentFilePath(PackageFileInfo(0x00ABCDEF, 1, "maps/a:b.dds")),
                 "files/00ABCDEF.maps_a_b.dds");
    EXPECT_STREQ(layout.GetContentFilePath(PackageFileInfo(0xA684C7C6, 1, "Upper.DAT")), "files/A684C7C6.upper.dat");
    EXPECT_STREQ(layout.GetPackageInfoPath("00abcdef.kpi"), "packages/00abcdef.kpi");
    EXPECT_STREQ(DirectoryStructure::GetPackageInfoFileName(0x00ABCDEF), "00abcdef.kpi");
}

// No temporary name can be one that the store gives a file: content files'
// names begin with eight upper-case hexadecimal digits and a dot, and a
// package-info file's name is twelve characters long.
TEST(DirectoryStructureTest, TemporaryNamesLieOutsideTheNamesOfStoreFiles) {
    DirectoryStructure layout;
    const PackageFileInfo file(0x00ABCDEF, 1, "a.dat");
    EXPECT_STREQ(layout.GetTemporaryPath("packages.dat"), "packages.dat.new");
    EXPECT_STREQ(layout.GetTemporaryPath("packages/00abcdef.kpi"), "packages/00abcdef.kpi.part");
    EXPECT_STREQ(layout.GetContentPartPath(file, false), "files/00ABCDEF.a.dat.part");
    EXPECT_STREQ(layout.GetContentPartPath(file, true), "files/~00ABCDEF.a.dat.part");
    EXPECT_STREQ(layout.GetConversionPartPath(7), "files/convert-7.part");
    EXPECT_FALSE(DirectoryStructure::IsPackageInfoFileName("00abcdef.kpi.part"));
    EXPECT_TRUE(DirectoryStructure::IsPackageInfoFileName("00ABCDEF.KPI"));
}

// A part name longer than a file name can be is shortened, differently for
// names that differ only after the part kept; a name that fits keeps the usual
// part name, even at the longest.
TEST(DirectoryStructureTest, PartNamesOfLongContentFileNamesStayWithinTheLongestFileName) {
    DirectoryStructure layout;
    const std::string fits(241, 'f');
    EXPECT_EQ(std::string(layout.GetContentPartPath(PackageFileInfo(0x00ABCDEF, 1, fits.c_str()), false)),
              "files/00ABCDEF." + fits + ".part");
    const std::string first = std::string(246, 'n');
    const std::string second = std::string(245, 'n') + "m";
    const std::string firstPart =
        layout.GetContentPartPath(PackageFileInfo(0x00ABCDEF, 1, first.c_str()), false).Peek();
    const std::string secondPart =
        layout.GetContentPartPath(PackageFileInfo(0x00ABCDEF, 1, second.c_str()), true).Peek();
    EXPECT_EQ(firstPart.size() - std::strlen("files/"), 240u);
    EXPECT_EQ(firstPart.compare(0, 17, "files/~~00ABCDEF."), 0) << firstPart;
    EXPECT_NE(firstPart, secondPart);
    EXPECT_TRUE(layout.CanHoldContentFile(PackageFileInfo(0, 1, first.c_str())));
    EXPECT_FALSE(layout.CanHoldContentFile(PackageFileInfo(0, 1, (first + "x").c_str())));
}

TEST(FlatFilesystemTest, SanitizeFileNameReplacesTheNineReservedCharacters) {
    EXPECT_STREQ(SanitizeFileName(nullptr), "");
    EXPECT_STREQ(SanitizeFileName(""), "");
    EXPECT_STREQ(SanitizeFileName("plain name.ini"), "plain name.ini");
    EXPECT_STREQ(SanitizeFileName("a\\b/c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
}

TEST(FlatFilesystemTest, GetParentPathCutsAtTheLastSeparatorOfEitherKind) {
    struct Case {
        const char* path;
        const char* parent;
    };
    for (const Case& test : {Case{"a/b\\c.txt", "a/b"}, Case{"a\\b/c.txt", "a\\b"}, Case{"name.txt", ""},
                             Case{"\\x", ""}, Case{"/x", ""}, Case{"/tmp/a", "/tmp"}, Case{"a/", "a"}, Case{"", ""}}) {
        EXPECT_STREQ(GetParentPath(test.path), test.parent) << test.path;
    }
}

TEST(FlatFilesystemTest, FullPathJoinsRootAndPathWithASlash) {
    FlatFilesystem store("C:\\App\\Ironveil\\Ironveil\\mofs");
    EXPECT_STREQ(store.GetFullPath("files/X.dat"), "C:\\App\\Ironveil\\Ironveil\\mofs/files/X.dat");
}

// A read makes nothing: the folders come from the writer that needs them.
TEST(FlatFilesystemTest, GetFileMakesNothingAndReturnsAnUnopenedFile) {
    TempDir folder;
    FlatFilesystem store((folder.Path() + "\\App\\mofs").c_str());
    FileClass* file = store.GetFile("files/X.dat");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->IsOpen());
    EXPECT_FALSE(Exists(folder / "App"));
    EXPECT_FALSE(file->Open(FileClass::ReadOnly));
    EXPECT_FALSE(Exists(folder / "App"));
    ASSERT_TRUE(CreateParentFolders(store.GetFullPath("files/X.dat")));
    EXPECT_TRUE(Exists(folder / "App/mofs/files"));
    EXPECT_FALSE(Exists(folder / "App/mofs/files/X.dat"));
    ASSERT_TRUE(file->Open(FileClass::WriteOnly));
    EXPECT_EQ(file->Write("abc", 3), 3);
    file->Close();
    store.ReturnFile(file);
    store.ReturnFile(nullptr);
    EXPECT_EQ(ReadFile(folder / "App/mofs/files/X.dat"), "abc");
    EXPECT_TRUE(store.FileExists("files/X.dat"));
    EXPECT_TRUE(store.FileExists("files"));
    EXPECT_FALSE(store.FileExists("files/Y.dat"));
}

TEST(FlatFilesystemTest, CreateParentFoldersMakesEveryLevel) {
    TempDir folder;
    EXPECT_TRUE(CreateParentFolders((folder.Path() + "/a\\b/c/file.txt").c_str()));
    EXPECT_TRUE(Exists(folder / "a/b/c"));
    EXPECT_FALSE(Exists(folder / "a/b/c/file.txt"));
    EXPECT_TRUE(CreateParentFolders(""));
    EXPECT_TRUE(CreateParentFolders("relative-name-without-folder"));
    EXPECT_FALSE(Exists("relative-name-without-folder"));
}

TEST(FlatFilesystemTest, FileOperationsWorkBelowTheRoot) {
    TempDir folder;
    FlatFilesystem store(folder.Path().c_str());
    WriteFile(folder / "a.txt", "first");
    WriteFile(folder / "b.txt", "second");

    EXPECT_FALSE(store.MoveFile("a.txt", "b.txt"));  // refused: the destination exists
    EXPECT_EQ(ReadFile(folder / "a.txt"), "first");
    store.CopyFile("a.txt", "b.txt");
    EXPECT_EQ(ReadFile(folder / "b.txt"), "first");
    EXPECT_TRUE(store.MoveFile("a.txt", "c.txt"));
    EXPECT_FALSE(Exists(folder / "a.txt"));
    EXPECT_EQ(ReadFile(folder / "c.txt"), "first");

    WriteFile(folder / "d.txt", "newer");
    EXPECT_TRUE(store.ReplaceFile("d.txt", "c.txt"));
    EXPECT_EQ(ReadFile(folder / "c.txt"), "newer");
    EXPECT_FALSE(store.ReplaceFile("missing.txt", "c.txt"));
    EXPECT_EQ(ReadFile(folder / "c.txt"), "newer");

    store.DeleteFile("c.txt");
    store.DeleteFile("missing.txt");
    EXPECT_FALSE(Exists(folder / "c.txt"));
}

}  // namespace
