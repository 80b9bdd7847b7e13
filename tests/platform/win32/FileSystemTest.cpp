#include <gtest/gtest.h>

// Declared before <windows.h> defines macros of the same names.
#include "platform/FileSystem.h"

#include <windows.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "support/TestSupport.h"

#undef DeleteFile
#undef MoveFile
#undef ReplaceFile

namespace {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// A handle as a virus scanner or an indexer takes one: it shares reading and
// writing but not deleting, so the file can be neither moved nor deleted.
HANDLE HoldOpen(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A store operation on "file" (holding "new") beside "target" (holding "old"),
// and the name the other program holds open meanwhile.
struct BusyCase {
    const char* name;
    const char* held;
    bool (*call)(const std::string& folder);
    const char* result;  // where "new" is afterwards; nullptr when deleted
};

void PrintTo(const BusyCase& test, std::ostream* out) { *out << test.name; }

class BusyFileTest : public ::testing::TestWithParam<BusyCase> {
protected:
    BusyFileTest() {
        WriteFile(Folder / "file", "new");
        WriteFile(Folder / "target", "old");
    }

    TempDir Folder;
};

TEST_P(BusyFileTest, WaitsForAHandleClosedSoonAndFailsInBoundedTimeOnOneKeptOpen) {
    const BusyCase& test = GetParam();
    const HANDLE lasting = HoldOpen(Folder / test.held);
    ASSERT_NE(lasting, INVALID_HANDLE_VALUE);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(test.call(Folder.Path()));
    const int error = platform::LastErrorNumber();
    EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error;
    // The pauses between the tries add up to more than a second; a generous
    // ceiling only catches a call that never gives up.
    EXPECT_GE(SecondsSince(start), 1.0);
    EXPECT_LT(SecondsSince(start), 10.0);
    CloseHandle(lasting);
    EXPECT_EQ(ReadFile(Folder / "file"), "new");
    EXPECT_EQ(ReadFile(Folder / "target"), "old");

    const HANDLE brief = HoldOpen(Folder / test.held);
    ASSERT_NE(brief, INVALID_HANDLE_VALUE);
    std::thread scanner([brief] {
        Sleep(300);
        CloseHandle(brief);
    });
    EXPECT_TRUE(test.call(Folder.Path())) << platform::LastErrorNumber();
    scanner.join();
    EXPECT_FALSE(Exists(Folder / "file"));
    if (test.result != nullptr) {
        EXPECT_EQ(ReadFile(Folder / test.result), "new");
    }

    // A file that is not there is no reason to wait.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_FALSE(test.call(Folder.Path()));
    EXPECT_EQ(platform::LastErrorNumber(), ERROR_FILE_NOT_FOUND);
    EXPECT_LT(SecondsSince(again), 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    StoreOperations, BusyFileTest,
    ::testing::Values(
        BusyCase{"Replace", "target",
                 [](const std::string& folder) {
                     return platform::ReplaceFile((folder + "\\file").c_str(), (folder + "\\target").c_str());
                 },
                 "target"},
        BusyCase{"Move", "file",
                 [](const std::string& folder) {
                     return platform::MoveFile((folder + "\\file").c_str(), (folder + "\\moved").c_str());
                 },
                 "moved"},
        BusyCase{"Delete", "file",
                 [](const std::string& folder) { return platform::DeleteFile((folder + "\\file").c_str()); }, nullptr},
        BusyCase{"DeleteListed", "file",
                 [](const std::string& folder) { return platform::DeleteFolderEntry(folder.c_str(), "file"); },
                 nullptr}),
    [](const ::testing::TestParamInfo<BusyCase>& info) { return std::string(info.param.name); });

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
