#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/BufferedFileClass.h"
#include "file/FileFactoryListClass.h"
#include "file/MixFileFactoryClass.h"
#include "file/SimpleFileFactoryClass.h"
#include "support/MixWriter.h"
#include "support/TestSupport.h"

using testsupport::MixWriter;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Hands out files in one folder and counts what it gives and gets back.
class RecordingFactory : public FileFactoryClass {
public:
    explicit RecordingFactory(std::string folder) : Folder(std::move(folder)) {}

    FileClass* GetFile(const char* name) override {
        ++Given;
        Asked.push_back(name);
        return new BufferedFileClass((Folder + "/" + name).c_str());
    }
    void ReturnFile(FileClass* file) override {
        ++Returned;
        delete file;
    }

    std::string Folder;
    std::vector<std::string> Asked;
    int Given = 0;
    int Returned = 0;
};

std::string ReadAll(FileClass* file) {
    std::string contents;
    if (file != nullptr && file->Open(FileClass::ReadOnly)) {
        char buffer[256];
        const int count = file->Read(buffer, sizeof buffer);
        contents.assign(buffer, count > 0 ? count : 0);
        file->Close();
    }
    return contents;
}

TEST(FileFactoryListClassTest, AnEmptyListFindsNothing) {
    FileFactoryListClass list;
    EXPECT_EQ(list.GetFile("x.ini"), nullptr);
    EXPECT_EQ(list.GetFactoryCount(), 0);
}

TEST(FileFactoryListClassTest, ReturnsTheFirstAvailableObjectAndGivesTheOthersBack) {
    TempDir root;
    WriteFile(root / "second/x.ini", "second");
    WriteFile(root / "third/x.ini", "third");
    RecordingFactory first(root / "first"), second(root / "second"), third(root / "third");
    FileFactoryListClass list;
    list.AddFactory(&first, "");
    list.AddFactory(&second, "second");
    list.AddFactory(&third, nullptr);
    EXPECT_EQ(list.GetFactoryCount(), 3);

    FileClass* file = list.GetFile("x.ini");
    EXPECT_EQ(ReadAll(file), "second");
    EXPECT_EQ(first.Given, 1);
    EXPECT_EQ(first.Returned, 1);
    EXPECT_EQ(second.Given, 1);
    EXPECT_EQ(third.Given, 0);

    // Objects go back through the first factory, whichever made them.
    list.ReturnFile(file);
    EXPECT_EQ(first.Returned, 2);
    EXPECT_EQ(second.Returned, 0);
}

TEST(FileFactoryListClassTest, GivesAFreshObjectOfTheFirstFactoryForANameFoundNowhere) {
    TempDir root;
    RecordingFactory first(root / "first"), second(root / "second");
    FileFactoryListClass list;
    list.AddFactory(&first, "");
    list.AddFactory(&second, "");

    FileClass* file = list.GetFile("new.ini");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::string(file->GetFileName()), root / "first/new.ini");
    EXPECT_EQ(first.Given, 2);
    EXPECT_EQ(first.Returned, 1);
    EXPECT_EQ(second.Returned, 1);
    list.ReturnFile(file);
    EXPECT_EQ(first.Given, first.Returned);
}

TEST(FileFactoryListClassTest, PrefersLooseFilesToArchiveMembersAndFallsBackToTheArchive) {
    TempDir root;
    WriteFile(root / "DATA/loose.ini", "loose file");
    WriteFile(root / "DATA/Always2.dat",
              MixWriter().Add("loose.ini", "archived copy").Add("inner.ini", "archived only").Build().bytes);
    SimpleFileFactoryClass folders;
    folders.SetSearchPath((root / "DATA\\").c_str());
    folders.AddSearchFolder((root / "DATA\\CONFIG\\").c_str());
    MixFileFactoryClass archive("Always2.dat", &folders);
    ASSERT_TRUE(archive.IsValid);
    FileFactoryListClass list;
    list.AddFactory(&folders, "");
    list.AddFactory(&archive, "Always2.dat");

    struct Case {
        const char* name;
        std::string contents;
        std::string fileName;
    };
    for (const Case& expected : {Case{"loose.ini", "loose file", root / "DATA\\loose.ini"},
                                 Case{"INNER.INI", "archived only", root / "DATA\\Always2.dat"},
                                 Case{"nowhere.ini", "", root / "DATA\\CONFIG\\nowhere.ini"}}) {
        FileClass* file = list.GetFile(expected.name);
        ASSERT_NE(file, nullptr) << expected.name;
        EXPECT_EQ(std::string(file->GetFileName()), expected.fileName) << expected.name;
        EXPECT_EQ(ReadAll(file), expected.contents) << expected.name;
        list.ReturnFile(file);
    }
}

}  // namespace
