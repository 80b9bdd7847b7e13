#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

using testsupport::TempDir;

// A folder that another program holds without write sharing cannot be opened
// for the flush; its names then rest on the moves' write-through, and the
// command goes on.
TEST(SyncFolderTest, FolderHeldWithoutWriteSharingStillCountsAsSynced) {
    TempDir folder;
    testsupport::MakeFolders(folder / "files");
    const HANDLE held = CreateFileA((folder / "files").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(platform::SyncFolder((folder / "files").c_str()));
    CloseHandle(held);
}

}  // namespace
