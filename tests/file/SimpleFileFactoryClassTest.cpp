#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/FileClass.h"
#include "file/SimpleFileFactoryClass.h"
#include "support/TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// The name a factory gives the object for `name`, and whether it opens.
struct Lookup {
    std::string fileName;
    bool opens = false;
    std::string contents;
};

Lookup LookUp(SimpleFileFactoryClass& factory, const char* name) {
    FileClass* file = factory.GetFile(name);
    EXPECT_NE(file, nullptr);
    Lookup result;
    if (file == nullptr) {
        return result;
    }
    EXPECT_FALSE(file->IsOpen());
    result.fileName = file->GetFileName();
    result.opens = file->Open(FileClass::ReadOnly) != 0;
    if (result.opens) {
        char buffer[64];
        const int count = file->Read(buffer, sizeof buffer);
        result.contents.assign(buffer, count > 0 ? count : 0);
        file->Close();
    }
    factory.ReturnFile(file);
    return result;
}

struct FolderCase {
    const char* startPath;  // given to SetSearchPath first
    std::vector<std::string> folders;
    std::string expected;
};

class AddSearchFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(AddSearchFolderTest, BuildsTheSearchPath) {
    SimpleFileFactoryClass factory;
    factory.SetSearchPath(GetParam().startPath);
    for (const std::string& folder : GetParam().folders) {
        factory.AddSearchFolder(folder.c_str());
    }
    EXPECT_EQ(std::string(factory.GetSearchPath()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, AddSearchFolderTest,
    ::testing::Values(
        FolderCase{nullptr, {"DATA\\SAVE"}, "DATA\\SAVE\\"},
        FolderCase{nullptr, {"DATA\\SAVE", "X\\"}, "DATA\\SAVE\\;X\\"},
        FolderCase{"DATA\\", {"DATA\\SAVE\\", "DATA\\CONFIG\\"}, "DATA\\;DATA\\SAVE\\;DATA\\CONFIG\\"},
        FolderCase{"A\\;", {"B"}, "A\\;B\\"}, FolderCase{nullptr, {"", "A", ""}, "A\\"},
        FolderCase{"C:\\data", {}, "C:\\data"},  // no backslash is added to a set path
        FolderCase{nullptr, {std::string(1022, 'f')}, std::string(1022, 'f') + "\\"},
        FolderCase{nullptr, {std::string(1023, 'f'), std::string(1021, 'g') + "\\"}, std::string(1021, 'g') + "\\"}));

TEST(SimpleFileFactoryClassTest, TakesTheFirstFolderThatHoldsTheFile) {
    TempDir root;
    WriteFile(root / "B/f.ini", "in B");
    WriteFile(root / "C/f.ini", "in C");
    WriteFile(root / "A/g.ini", "in A");
    SimpleFileFactoryClass factory;
    const std::string a = root / "A\\", b = root / "B\\", c = root / "C\\";
    factory.SetSearchPath((";" + a + ";;" + b + ";" + c).c_str());

    const Lookup found = LookUp(factory, "f.ini");
    EXPECT_EQ(found.fileName, b + "f.ini");
    EXPECT_EQ(found.contents, "in B");
    EXPECT_EQ(LookUp(factory, "g.ini").contents, "in A");
}

TEST(SimpleFileFactoryClassTest, NamesAFileFoundNowhereAfterTheLastFolder) {
    TempDir root;
    WriteFile(root / "A/other", "x");
    SimpleFileFactoryClass factory;
    const std::string a = root / "A\\", b = root / "B\\";
    factory.SetSearchPath((a + ";" + b + ";").c_str());

    const Lookup missing = LookUp(factory, "f.ini");
    EXPECT_EQ(missing.fileName, b + "f.ini");
    EXPECT_FALSE(missing.opens);
}

TEST(SimpleFileFactoryClassTest, ASinglePrefixIsUsedWithoutTestingForTheFile) {
    SimpleFileFactoryClass factory;
    factory.SetSearchPath("C:\\data\\");
    EXPECT_EQ(LookUp(factory, "x.dat").fileName, "C:\\data\\x.dat");

    TempDir root;
    WriteFile(root / "x.dat", "here");
    factory.SetSearchPath((root.Path() + "\\").c_str());
    const Lookup present = LookUp(factory, "x.dat");
    EXPECT_EQ(present.fileName, root.Path() + "\\x.dat");
    EXPECT_EQ(present.contents, "here");
}

TEST(SimpleFileFactoryClassTest, UsesAbsoluteNamesUnchanged) {
    TempDir root;
    WriteFile(root / "abs.ini", "absolute");
    SimpleFileFactoryClass factory;
    factory.SetSearchPath("A\\;B\\");
    for (const char* name : {"C:\\x.dat", "c:x.dat", "\\\\server\\share\\x.dat"}) {
        EXPECT_EQ(LookUp(factory, name).fileName, name);
    }
    const std::string absolute = root / "abs.ini";
    const Lookup found = LookUp(factory, absolute.c_str());
    EXPECT_EQ(found.fileName, absolute);
    EXPECT_EQ(found.contents, "absolute");
    // A single backslash in front is not absolute: it is searched like any name.
    EXPECT_EQ(LookUp(factory, "\\x.dat").fileName, "B\\\\x.dat");
}

TEST(SimpleFileFactoryClassTest, AnEmptySearchPathGivesAnObjectWithoutNameThatDoesNotOpen) {
    SimpleFileFactoryClass factory;
    const Lookup lookup = LookUp(factory, "x.dat");
    EXPECT_EQ(lookup.fileName, "");
    EXPECT_FALSE(lookup.opens);
}

}  // namespace
