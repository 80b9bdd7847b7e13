#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/FileLock.h"
#include "support/TestSupport.h"

using testsupport::Exists;
using testsupport::TempDir;

namespace {

std::atomic<int> NoticeCount{0};

void CountNotice() { ++NoticeCount; }

TEST(FileLockTest, FreeLockIsTakenAtOnceWithoutNoticeAndCreatesTheFile) {
    TempDir folder;
    NoticeCount = 0;
    platform::FileLock lock;
    ASSERT_TRUE(lock.Lock((folder / ".lock").c_str(), CountNotice));
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_TRUE(Exists(folder / ".lock"));
    EXPECT_EQ(NoticeCount, 0);
    lock.Unlock();
    EXPECT_FALSE(lock.IsLocked());
}

// The lock keeps out every other holder, also a second one in this process,
// so the waiting side can be watched from here.
TEST(FileLockTest, SecondHolderIsToldOnceThenWaitsUntilTheFirstLetsGo) {
    TempDir folder;
    const std::string path = folder / ".lock";
    NoticeCount = 0;
    platform::FileLock first;
    ASSERT_TRUE(first.Lock(path.c_str(), CountNotice));

    std::atomic<bool> secondHolds{false};
    platform::FileLock second;
    std::thread waiter([&] { secondHolds = second.Lock(path.c_str(), CountNotice); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (NoticeCount == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(NoticeCount, 1);
    EXPECT_FALSE(secondHolds);

    first.Unlock();
    waiter.join();
    EXPECT_TRUE(secondHolds);
    EXPECT_EQ(NoticeCount, 1);
}

TEST(FileLockTest, LockFileInAMissingFolderFailsAndHoldsNothing) {
    TempDir folder;
    platform::FileLock lock;
    EXPECT_FALSE(lock.Lock((folder / "missing/.lock").c_str(), CountNotice));
    EXPECT_FALSE(lock.IsLocked());
}

TEST(FileLockTest, EndOfTheObjectReleasesTheLock) {
    TempDir folder;
    const std::string path = folder / ".lock";
    NoticeCount = 0;
    {
        platform::FileLock scoped;
        ASSERT_TRUE(scoped.Lock(path.c_str(), CountNotice));
    }
    platform::FileLock next;
    EXPECT_TRUE(next.Lock(path.c_str(), CountNotice));
    EXPECT_EQ(NoticeCount, 0);
}

}  // namespace
