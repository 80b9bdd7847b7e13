// The durability rules' own failure branches, with one call failed through
// the platform's seam: the result says so, no final name stands for bytes
// that were not forced, no temporary file is left, and no content file goes
// before the package-info file that lists it is durably gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/FileClass.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "support/TestSupport.h"
#include "support/faults/ArmedFaults.h"

namespace {

using platform::FaultKind;
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WriteFile;

class DurableStoreTest : public ::testing::TestWithParam<FaultKind> {
protected:
    void TearDown() override { testsupport::DisarmFault(); }

    std::string StorePath(const std::string& relative) const { return Folder / ("mofs/" + relative); }

    // Writes a temporary file whole and holds it for its final name; false
    // when the batch refused it (the caller deletes it then).
    bool Hold(DurableBatch& batch, const std::string& name, const std::string& bytes) {
        const std::string temporary = "files/" + name + ".part";
        FileClass* file = Store.GetFile(temporary.c_str());
        file->Open(FileClass::WriteNew);
        EXPECT_EQ(file->Write(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
        const bool held = batch.Hold(*file, temporary.c_str(), ("files/" + name).c_str(), bytes.size());
        Store.ReturnFile(file);
        if (!held) {
            Store.DeleteFile(temporary.c_str());
        }
        return held;
    }

    testsupport::TempDir Folder;
    FlatFilesystem Store{(Folder.Path() + "/mofs").c_str()};
    DirectoryStructure Layout;
    DurableStore Durable{Store, Layout};
};

// Where files are forced one by one (Windows, or a file system that syncfs
// does not reach), the first force is the first file's, as it is held.
TEST_P(DurableStoreTest, BatchWhoseCallFailsGivesNoNameToUnforcedBytesAndLeavesNoTemporaryFile) {
    testsupport::MakeFolders(StorePath("files"));
    DurableBatch batch(Store, "files");
    testsupport::ArmFault(GetParam(), 1);
    const bool held = Hold(batch, "a", "first") && Hold(batch, "b", "second");
    EXPECT_FALSE(batch.Commit() && held);
    EXPECT_TRUE(testsupport::FaultFired());
    if (GetParam() != FaultKind::SyncFolder) {
        EXPECT_FALSE(Exists(StorePath("files/a")));
    }
    if (Exists(StorePath("files/b"))) {
        EXPECT_EQ(ReadFile(StorePath("files/b")), "second");
    }
    EXPECT_FALSE(Exists(StorePath("files/a.part")));
    EXPECT_FALSE(Exists(StorePath("files/b.part")));
}

TEST_P(DurableStoreTest, ReplaceWholeWhoseCallFailsKeepsTheOldFileUnlessTheNameWasGiven) {
    WriteFile(StorePath("packages.dat"), "old");
    testsupport::ArmFault(GetParam(), 1);
    EXPECT_FALSE(Durable.ReplaceWhole("packages.dat", "new bytes", 9));
    EXPECT_TRUE(testsupport::FaultFired());
    EXPECT_EQ(ReadFile(StorePath("packages.dat")), GetParam() == FaultKind::SyncFolder ? "new bytes" : "old");
    EXPECT_FALSE(Exists(StorePath("packages.dat.new")));
}

INSTANTIATE_TEST_SUITE_P(Faults, DurableStoreTest,
                         ::testing::Values(FaultKind::Force, FaultKind::Rename, FaultKind::SyncFolder),
                         [](const ::testing::TestParamInfo<FaultKind>& info) {
                             return testsupport::FaultKindName(info.param);
                         });

// The first folder sync is that of packages/ after the package-info file's
// deletion, the second that of files/ after the content files'.
TEST_F(DurableStoreTest, RemovePackageFilesDeletesNoContentFileBeforeTheInfoFileIsDurablyGone) {
    for (const int failedSync : {1, 2}) {
        SCOPED_TRACE(failedSync);
        WriteFile(StorePath("packages/info.kpi"), "record");
        WriteFile(StorePath("files/unused"), "bytes");
        bool listed = false;
        testsupport::ArmFault(FaultKind::SyncFolder, failedSync);
        const bool removed = Durable.RemovePackageFiles("packages/info.kpi", [&](std::vector<std::string>& names) {
            listed = true;
            EXPECT_FALSE(Exists(StorePath("packages/info.kpi")));
            names = {"unused"};
            return true;
        });
        EXPECT_FALSE(removed);
        EXPECT_TRUE(testsupport::FaultFired());
        EXPECT_EQ(listed, failedSync == 2);
        EXPECT_EQ(Exists(StorePath("files/unused")), failedSync == 1);
    }
}

}  // namespace
