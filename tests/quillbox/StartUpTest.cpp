#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "file/FileClass.h"
#include "file/FileFactoryListClass.h"
#include "file/SimpleFileFactoryClass.h"
#include "quillbox/Commands.h"
#include "support/MixWriter.h"
#include "support/TestSupport.h"

using testsupport::MixWriter;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string ReadThrough(FileFactoryClass* factory, const char* name, std::string* fileName = nullptr) {
    FileClass* file = factory->GetFile(name);
    EXPECT_NE(file, nullptr) << name;
    if (file == nullptr) {
        return "";
    }
    if (fileName != nullptr) {
        *fileName = file->GetFileName();
    }
    std::string contents;
    if (file->Open(FileClass::ReadOnly)) {
        char buffer[256];
        const int count = file->Read(buffer, sizeof buffer);
        contents.assign(buffer, count > 0 ? count : 0);
        file->Close();
    }
    factory->ReturnFile(file);
    return contents;
}

// Start-up registers process-wide objects once, so the whole chain is checked
// in one test, inside a game folder whose data folder is spelled in lower case.
TEST(StartUpTest, PublishesTheDataFoldersAndArchivesAsTheActiveFactory) {
    TempDir game;
    WriteFile(game / "data/loose.ini", "loose");
    WriteFile(game / "data/config/settings.ini", "from config");
    WriteFile(game / "data/Always2.dat", MixWriter()
                                             .Add("inner.ini", "inside Always2")
                                             .Add("loose.ini", "archived copy")
                                             .Add("shadowed.ini", "from Always2")
                                             .Build()
                                             .bytes);
    WriteFile(game / "data/ALWAYS3.DAT", MixWriter().Add("shadowed.ini", "from Always3").Build().bytes);
    WriteFile(game / "data/Always.dat", "not an archive");

    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(game.Path());
    RegisterDataFactories();
    std::filesystem::current_path(previous);

    ASSERT_EQ(ActiveFileFactory, &GlobalFactoryList);
    EXPECT_EQ(GlobalFactoryList.GetFactoryCount(), 5);
    EXPECT_STREQ(DataFolderFactory.GetSearchPath(), "DATA\\;DATA\\SAVE\\;DATA\\CONFIG\\");

    // Lookups resolve relative to the current directory, as in the program.
    std::filesystem::current_path(game.Path());
    std::string missingName;
    EXPECT_EQ(ReadThrough(ActiveFileFactory, "loose.ini"), "loose");
    EXPECT_EQ(ReadThrough(ActiveFileFactory, "settings.ini"), "from config");
    EXPECT_EQ(ReadThrough(ActiveFileFactory, "INNER.INI"), "inside Always2");
    EXPECT_EQ(ReadThrough(ActiveFileFactory, "shadowed.ini"), "from Always3");
    EXPECT_EQ(ReadThrough(ActiveFileFactory, "missing.ini", &missingName), "");
    EXPECT_EQ(missingName, "DATA\\CONFIG\\missing.ini");
    std::filesystem::current_path(previous);
}

}  // namespace
