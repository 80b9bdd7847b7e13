#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "file/ChunkReader.h"
#include "file/MemoryFile.h"
#include "foundation/HashName.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageManager.h"
#include "support/RecordBytes.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

namespace {

using testsupport::Chunk;
using testsupport::Exists;
using testsupport::IndexEntry;
using testsupport::Le32;
using testsupport::ListedFile;
using testsupport::ListFolder;
using testsupport::PackageRecord;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::Text;
using testsupport::WorkedRecord;
using testsupport::WriteFile;

// A record with the version and author that do not matter here.
std::string Record(const std::string& name, const std::vector<ListedFile>& files = {}) {
    return PackageRecord(name, "1.0", "me", files);
}

class PackageManagerTest : public ::testing::Test {
protected:
    std::string StorePath(const std::string& relative) const { return Folder / ("mofs/" + relative); }

    Package* Add(PackageManager& manager, const std::string& record) {
        MemoryFile file;
        file.Write(record.data(), static_cast<int>(record.size()));
        file.Seek(0, FileClass::FromStart);
        ChunkReader reader(&file);
        return manager.AddPackage(reader);
    }

    TempDir Folder;
    FlatFilesystem Store{(Folder.Path() + "/mofs").c_str()};
    DirectoryStructure Layout;
    PackageManager Manager{Store, Layout};
};

TEST_F(PackageManagerTest, MissingIndexIsAnEmptyRegistrySavedAsZeroBytes) {
    Manager.Load();
    EXPECT_EQ(Manager.GetPackageCount(), 0);
    EXPECT_TRUE(Manager.Save());
    ASSERT_TRUE(Exists(StorePath("packages.dat")));
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), "");
    EXPECT_EQ(ListFolder(StorePath("")), std::vector<std::string>{"packages.dat"});
}

TEST_F(PackageManagerTest, WorkedExampleIndexIs54Bytes) {
    Add(Manager, WorkedRecord);
    EXPECT_TRUE(Manager.Save());
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), std::string("\x47\x4B\x43\x50\x2E\x00\x00\x80", 8) + WorkedRecord);
}

TEST_F(PackageManagerTest, LoadReadsBackWhatSaveWroteInOrder) {
    Add(Manager, Record("Alpha", {{1, "a.dat"}, {2, "B.DAT"}}));
    Add(Manager, Record("Beta"));
    Add(Manager, Record("Gamma", {{3, "c.dat"}}));
    ASSERT_TRUE(Manager.Save());

    PackageManager reloaded(Store, Layout);
    reloaded.Load();
    ASSERT_EQ(reloaded.GetPackageCount(), 3);
    EXPECT_STREQ(reloaded.GetPackage(0)->GetName(), "Alpha");
    EXPECT_STREQ(reloaded.GetPackage(1)->GetName(), "Beta");
    EXPECT_STREQ(reloaded.GetPackage(2)->GetName(), "Gamma");
    ASSERT_EQ(reloaded.GetPackage(0)->GetFileCount(), 2);
    EXPECT_STREQ(reloaded.GetPackage(0)->GetFileInfo(1).name, "b.dat");
    EXPECT_EQ(reloaded.GetPackage(2)->GetFileInfo(0).crc, 3u);
    EXPECT_STREQ(reloaded.GetPackage(2)->GetVersion(), "1.0");
}

TEST_F(PackageManagerTest, FindPackageIgnoresLetterCaseAndRemoveKeepsTheOrder) {
    Package* maps = Add(Manager, Record("Maps"));
    Package* units = Add(Manager, Record("Units"));
    Package* sounds = Add(Manager, Record("Sounds"));
    EXPECT_EQ(Manager.FindPackage(HashName("MAPS")), maps);
    EXPECT_EQ(Manager.FindPackage(HashName("units")), units);
    EXPECT_EQ(Manager.FindPackage(HashName("Nothing")), nullptr);

    EXPECT_TRUE(Manager.RemovePackage(units));
    EXPECT_FALSE(Manager.RemovePackage(units));
    delete units;
    ASSERT_EQ(Manager.GetPackageCount(), 2);
    EXPECT_EQ(Manager.GetPackage(0), maps);
    EXPECT_EQ(Manager.GetPackage(1), sounds);
    EXPECT_EQ(Manager.FindPackage(HashName("Units")), nullptr);
}

TEST_F(PackageManagerTest, RemovePackageFilesKeepsSharedAndDotFilesAndDeletesTheRest) {
    Package* first = Add(Manager, Record("First", {{0xA1, "shared.dat"}, {0xB2, "maps/own:1.dds"}}));
    Add(Manager, Record("Second", {{0xA1, "Shared.dat"}}));
    for (const char* name : {"000000A1.shared.dat", "000000B2.maps_own_1.dds", "000000A1.SHARED.DAT", ".keep",
                             "000000C3.partial.dat.part", "stray.txt"}) {
        WriteFile(StorePath(std::string("files/") + name), "x");
    }
    testsupport::MakeFolders(StorePath("files/sub"));

    Manager.RemovePackage(first);
    delete first;
    StringClass unreadable;
    EXPECT_TRUE(Manager.RemovePackageFiles("First", unreadable));
    EXPECT_EQ(ListFolder(StorePath("files")), (std::vector<std::string>{".keep", "000000A1.shared.dat", "sub"}));

    Package* second = Manager.GetPackage(0);
    Manager.RemovePackage(second);
    delete second;
    EXPECT_TRUE(Manager.RemovePackageFiles("Second", unreadable));
    EXPECT_EQ(ListFolder(StorePath("files")), (std::vector<std::string>{".keep", "sub"}));
}

TEST_F(PackageManagerTest, RemovePackageFilesWithoutContentFolderDoesNothing) {
    Add(Manager, Record("First", {{1, "a"}}));
    StringClass unreadable;
    EXPECT_TRUE(Manager.RemovePackageFiles("Other", unreadable));
    EXPECT_FALSE(Exists(StorePath("files")));
}

TEST_F(PackageManagerTest, SaveThatCannotCreateTheNewIndexKeepsTheOldOne) {
    WriteFile(StorePath("packages.dat"), IndexEntry(WorkedRecord));
    WriteFile(StorePath("packages.dat.new/blocker"), "x");  // a folder cannot be opened as a file
    Add(Manager, Record("Other"));
    EXPECT_FALSE(Manager.Save());
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), IndexEntry(WorkedRecord));
}

TEST_F(PackageManagerTest, SaveThatCannotWriteCompletelyKeepsTheOldIndexAndRemovesTheNewFile) {
    // A store without free space: the new index is created, but no byte of
    // it can be written.
    testsupport::SmallDisk disk(StorePath(""), 64 * 1024);
    if (!disk.IsMounted()) {
        GTEST_SKIP() << disk.Failure();
    }
    WriteFile(StorePath("packages.dat"), IndexEntry(WorkedRecord));
    ASSERT_TRUE(disk.Fill(StorePath("filler"), 0));
    Add(Manager, Record("Other", {{1, "a"}}));
    EXPECT_FALSE(Manager.Save());
    ASSERT_FALSE(std::filesystem::is_symlink(StorePath("packages.dat")));
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), IndexEntry(WorkedRecord));
    EXPECT_FALSE(Exists(StorePath("packages.dat.new")));
}

TEST_F(PackageManagerTest, ForeignTopLevelChunkLoadsAsAnEmptyPackageAndIsSavedBackAsIndexEntry) {
    WriteFile(StorePath("packages.dat"), IndexEntry(WorkedRecord) + Chunk(0x11223344, ""));
    Manager.Load();
    ASSERT_EQ(Manager.GetPackageCount(), 2);
    EXPECT_STREQ(Manager.GetPackage(0)->GetName(), "pk");
    EXPECT_STREQ(Manager.GetPackage(1)->GetName(), "");
    EXPECT_EQ(Manager.GetPackage(1)->GetFileCount(), 0);
    ASSERT_TRUE(Manager.Save());
    const std::string emptyRecord = Chunk(Package::DataChunkId, Text("") + Text("") + Text("") + Le32(0));
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), IndexEntry(WorkedRecord) + IndexEntry(emptyRecord));
}

TEST_F(PackageManagerTest, IndexClaimingMoreThanItHoldsYieldsWhatCouldBeRead) {
    const std::string truncated = Le32(PackageManager::IndexChunkId) + Le32(0xFFFFFFFF) + WorkedRecord.substr(0, 30);
    WriteFile(StorePath("packages.dat"), truncated);
    Manager.Load();
    ASSERT_EQ(Manager.GetPackageCount(), 1);
    EXPECT_STREQ(Manager.GetPackage(0)->GetName(), "pk");
    EXPECT_STREQ(Manager.GetPackage(0)->GetAuthor(), "me");
    EXPECT_EQ(Manager.GetPackage(0)->GetFileCount(), 0);
}

}  // namespace
