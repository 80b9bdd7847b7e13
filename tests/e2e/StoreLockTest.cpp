// Quillbox programs working on one store at the same time: each holds the
// store's lock from loading the index to saving it, so none loses another's
// registration, and one that has to wait says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "StoreFixture.h"
#include "support/ChildProcess.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"

namespace {

using repositorytest::ContentFile;
using repositorytest::InfoFileName;
using repositorytest::PackageInfo;
using repositorytest::Pattern;
using testsupport::ChildProcess;
using testsupport::ProgramResult;
using testsupport::WriteFile;
using Clock = std::chrono::steady_clock;

const std::string WaitingLine = "Waiting for another Quillbox using the store...\r\n";

class StoreLockTest : public StoreFixture {
protected:
    void PlaceInfo(const std::string& name) const {
        WriteFile(StorePath("packages/" + InfoFileName(name)), PackageInfo(name, {{name + ".txt", name}}));
    }

    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments) const {
        auto child = std::make_unique<ChildProcess>(Program, arguments, Folder.Path(), Environment());
        EXPECT_TRUE(child->IsStarted());
        return child;
    }

    // Polls until the condition holds; false after timeoutSeconds.
    template <class Condition>
    static bool WaitUntil(Condition condition, int timeoutSeconds) {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
        while (!condition()) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
};

TEST_F(StoreLockTest, ProgramsInstallingAtTheSameTimeLoseNoRegistration) {
    std::vector<std::string> names;
    for (int number = 0; number < 8; ++number) {
        names.push_back("Concurrent" + std::to_string(number));
        PlaceInfo(names.back());
    }
    std::vector<std::unique_ptr<ChildProcess>> programs;
    for (const std::string& name : names) {
        programs.push_back(Start({"install", name}));
    }
    for (size_t index = 0; index < programs.size(); ++index) {
        const ProgramResult result = programs[index]->Wait();
        EXPECT_EQ(result.out, "Package '" + names[index] + "' is now installed.\r\n");
        EXPECT_TRUE(result.err == "" || result.err == WaitingLine) << result.err;
    }
    std::vector<std::string> installed = InstalledNames();
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed, names);
}

// The first program holds the store through a slow download; the second one
// says once that it waits, and only goes on when the first has finished.
TEST_F(StoreLockTest, SecondProgramSaysOnceThatItWaitsAndGoesOnWhenTheFirstEnds) {
    testsupport::TempDir served;
    testsupport::HttpServer server(served.Path(), 120);
    ASSERT_TRUE(server.IsRunning()) << "the loopback HTTP server did not start";
    repositorytest::PackageRepository(served / "repo").Publish("Maps", {{"maps/field.bin", Pattern(200 * 1024, 5)}});
    PlaceInfo("Extra");

    // 1 KiB every 50 ms: the content file takes about ten seconds, time
    // enough for the second program to start even on a busy machine.
    auto first = Start({"download", "Maps", server.BaseUrl() + "/_slow/repo"});
    ASSERT_TRUE(WaitUntil([&] { return InstalledNames() == std::vector<std::string>{"Maps"}; }, 60))
        << "the download never registered its package";
    auto second = Start({"install", "Extra"});
    ASSERT_TRUE(WaitUntil([&] { return second->ErrorSoFar() == WaitingLine || second->HasEnded(); }, 30));
    EXPECT_FALSE(second->HasEnded()) << "the second program did not wait for the first";

    const ProgramResult firstResult = first->Wait();
    EXPECT_NE(firstResult.out.find("Package 'Maps' was successfully downloaded and installed.\r\n"), std::string::npos)
        << firstResult.err;
    const ProgramResult secondResult = second->Wait();
    EXPECT_EQ(secondResult.out, "Package 'Extra' is now installed.\r\n");
    EXPECT_EQ(secondResult.err, WaitingLine);
    EXPECT_EQ(InstalledNames(), (std::vector<std::string>{"Maps", "Extra"}));
}

// convert does not use the index, but it writes into the store: two
// conversions of one archive would share ".part" files.
TEST_F(StoreLockTest, ConvertWaitsForAProgramHoldingTheStore) {
    testsupport::TempDir served;
    testsupport::HttpServer server(served.Path(), 120);
    ASSERT_TRUE(server.IsRunning()) << "the loopback HTTP server did not start";
    repositorytest::PackageRepository(served / "repo").Publish("Maps", {{"maps/field.bin", Pattern(1024, 5)}});
    const std::string archive = Folder / "Arena.mix";
    WriteFile(archive, testsupport::MixWriter().Add("arena.map", "walls").Build().bytes);

    auto first = Start({"download", "Maps", server.BaseUrl() + "/_stall/repo"});
    ASSERT_TRUE(WaitUntil([&] { return testsupport::Exists(StorePath(PackageManager::LockFileName)); }, 30));
    auto second = Start({"convert", archive, "1.0", "Sam Roe"});
    ASSERT_TRUE(WaitUntil([&] { return second->ErrorSoFar() == WaitingLine || second->HasEnded(); }, 30));
    EXPECT_FALSE(second->HasEnded()) << "convert did not wait for the program holding the store";
    EXPECT_FALSE(testsupport::Exists(StorePath("packages/" + InfoFileName("Arena"))));

    first->Kill();
    first->Wait();
    const ProgramResult result = second->Wait();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, WaitingLine);
    EXPECT_TRUE(testsupport::Exists(StorePath("packages/" + InfoFileName("Arena"))));
}

TEST_F(StoreLockTest, LockOfAKilledProgramIsFreedAtOnce) {
    testsupport::TempDir served;
    testsupport::HttpServer server(served.Path(), 120);
    ASSERT_TRUE(server.IsRunning()) << "the loopback HTTP server did not start";
    repositorytest::PackageRepository(served / "repo").Publish("Maps", {{"maps/field.bin", Pattern(1024, 5)}});
    PlaceInfo("Extra");

    // A server that never answers keeps the first program in its download.
    auto first = Start({"download", "Maps", server.BaseUrl() + "/_stall/repo"});
    ASSERT_TRUE(WaitUntil([&] { return testsupport::Exists(StorePath(PackageManager::LockFileName)); }, 30));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_FALSE(first->HasEnded());
    first->Kill();
    first->Wait();

    const Clock::time_point started = Clock::now();
    const ProgramResult result = Run({"install", "Extra"}, 30);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), 10.0);
    EXPECT_EQ(result.out, "Package 'Extra' is now installed.\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(InstalledNames(), std::vector<std::string>{"Extra"});
}

// A lock that cannot be taken keeps every command out of the store, with the
// reason; the lock file here is a folder, which no system can lock.
TEST_F(StoreLockTest, LockThatCannotBeTakenFailsEveryCommandAndSaysWhy) {
    PlaceInfo("Extra");
    testsupport::MakeFolders(StorePath(std::string(PackageManager::LockFileName) + "/inside"));
    testsupport::TempDir game;
    WriteFile(game / "Maps.mix", testsupport::MixWriter().Add("a.txt", "a").Build().bytes);
    const std::string failure = "Could not use the package store '" + testsupport::NativeSpelling(Store) + "'.\r\n";

    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"install", "Extra"}, {"convert", (game / "Maps.mix"), "1", "x"}}) {
        const ProgramResult result = Run(command);
        EXPECT_EQ(result.exitCode, 1) << command[0];
        EXPECT_EQ(result.out, "") << command[0];
        testsupport::ExpectStoreCause(result.err, failure, "lock", StorePath(PackageManager::LockFileName));
    }
    EXPECT_EQ(InstalledNames(), std::vector<std::string>{});
    EXPECT_FALSE(testsupport::Exists(StorePath("packages/" + InfoFileName("Maps"))));
    // list takes no lock: it reads the index all the same.
    const ProgramResult list = Run({"list"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "No packages are installed.\r\n");
    EXPECT_EQ(list.err, "");
}

// The index is replaced whole, so list reads the one the last finished
// command left without waiting for a program that holds the store.
TEST_F(StoreLockTest, ListAnswersAtOnceWhileAnotherProgramHoldsTheStore) {
    testsupport::TempDir served;
    testsupport::HttpServer server(served.Path(), 120);
    ASSERT_TRUE(server.IsRunning()) << "the loopback HTTP server did not start";
    repositorytest::PackageRepository(served / "repo").Publish("Maps", {{"maps/field.bin", Pattern(1024, 5)}});
    PlaceInfo("Extra");
    ASSERT_EQ(Run({"install", "Extra"}).exitCode, 0);

    // A download from a server that never answers holds the store; a second
    // program that waits for it shows that it does.
    // One that starts before the download has the store is simply done first.
    auto first = Start({"download", "Maps", server.BaseUrl() + "/_stall/repo"});
    std::unique_ptr<ChildProcess> waiting;
    for (int attempt = 0; attempt < 3 && (waiting == nullptr || waiting->HasEnded()); ++attempt) {
        waiting = Start({"uninstall", "Unknown"});
        ASSERT_TRUE(WaitUntil([&] { return waiting->ErrorSoFar() == WaitingLine || waiting->HasEnded(); }, 30));
    }
    ASSERT_FALSE(waiting->HasEnded()) << "the download did not hold the store";

    const Clock::time_point started = Clock::now();
    const ProgramResult list = Run({"list"}, 30);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), 10.0);
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "The following packages are installed:\r\nExtra version 1.0 by Jane Doe\r\n");
    EXPECT_EQ(list.err, "");
    EXPECT_FALSE(waiting->HasEnded()) << "the download ended before list ran";
    first->Kill();
    first->Wait();
    waiting->Wait();
}

}  // namespace
