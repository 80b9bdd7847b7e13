// A Quillbox killed while it saves the package index must leave the old or
// the new index, whole: never none and never a torn one.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "StoreFixture.h"
#include "support/ChildProcess.h"

namespace {

using repositorytest::ContentFile;
using repositorytest::InfoFileName;
using repositorytest::PackageInfo;
using testsupport::ChildProcess;
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WriteFile;
using Clock = std::chrono::steady_clock;

constexpr int PackageCount = 2000;
constexpr int Kills = 40;

std::string LargeIndex() {
    std::string index;
    for (int number = 0; number < PackageCount; ++number) {
        const std::string name = "Package" + std::to_string(number);
        const std::string folder = "package" + std::to_string(number);
        index += IndexEntry(
            PackageInfo(name, {{folder + "/a.dat", "a"}, {folder + "/b.dat", "bb"}, {folder + "/c.ini", "c"}}));
    }
    return index;
}

class IndexCrashSafetyTest : public StoreFixture {
protected:
    void SetUp() override {
        OldIndex = LargeIndex();
        const std::string extra = PackageInfo("Extra", {{"extra.dat", "extra"}});
        NewIndex = OldIndex + IndexEntry(extra);
        WriteFile(StorePath("packages/" + InfoFileName("Extra")), extra);
    }

    void Reset() const {
        WriteFile(StorePath("packages.dat"), OldIndex);
        std::filesystem::remove(StorePath("packages.dat.new"));
    }

    // Waits until the save has begun (the temporary index exists); false when
    // the program ended first, or was not seen saving within a minute.
    bool WaitForSave(ChildProcess& child) const {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
        while (!Exists(StorePath("packages.dat.new"))) {
            if (child.HasEnded() || Clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }

    std::string OldIndex;
    std::string NewIndex;
};

TEST_F(IndexCrashSafetyTest, KillAtAnyMomentOfASaveLeavesTheOldOrTheNewIndexWhole) {
    // Undisturbed runs give the new index and the timings to aim at; a run
    // whose save was too quick to be seen is tried again.
    Clock::duration wholeRun{};
    Clock::duration saveTime{};
    for (int attempt = 0; attempt < 10 && saveTime == Clock::duration{}; ++attempt) {
        Reset();
        const Clock::time_point started = Clock::now();
        ChildProcess reference(Program, {"install", "Extra"}, Folder.Path(), Environment());
        ASSERT_TRUE(reference.IsStarted());
        const bool seen = WaitForSave(reference);
        const Clock::time_point saving = Clock::now();
        while (seen && Exists(StorePath("packages.dat.new"))) {
            std::this_thread::yield();
        }
        saveTime = seen ? Clock::now() - saving : Clock::duration{};
        const testsupport::ProgramResult result = reference.Wait();
        ASSERT_EQ(result.out, "Package 'Extra' is now installed.\r\n") << result.err;
        ASSERT_TRUE(ReadFile(StorePath("packages.dat")) == NewIndex);
        wholeRun = Clock::now() - started;
    }
    ASSERT_NE(saveTime, Clock::duration{}) << "no save was ever seen under way";
    const long long wholeMicros = std::chrono::duration_cast<std::chrono::microseconds>(wholeRun).count();
    const long long saveMicros = std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count();

    std::mt19937 random(20111208);
    int oldKept = 0;
    int newKept = 0;
    int killedWhileSaving = 0;
    int kills = 0;
    for (int attempt = 0; kills < Kills && attempt < 3 * Kills; ++attempt) {
        Reset();
        ChildProcess child(Program, {"install", "Extra"}, Folder.Path(), Environment());
        ASSERT_TRUE(child.IsStarted());
        // Every other kill lands somewhere in the whole run; the others while
        // the save is under way, once its temporary file has appeared.
        long long delay = 0;
        if (attempt % 2 == 0) {
            delay = static_cast<long long>(random() % static_cast<unsigned long long>(wholeMicros + 1));
        } else if (WaitForSave(child)) {
            // Weighted towards the start: the save is quicker than the program
            // that was timed, which ran undisturbed by polling.
            const double share = std::uniform_real_distribution<double>(0.0, 1.0)(random);
            delay = static_cast<long long>(share * share * share * static_cast<double>(saveMicros));
        } else {
            continue;  // the save went by unseen
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        killedWhileSaving += Exists(StorePath("packages.dat.new")) ? 1 : 0;
        child.Kill();
        child.Wait();
        ++kills;

        ASSERT_TRUE(Exists(StorePath("packages.dat"))) << "no index after a kill at attempt " << attempt;
        const std::string index = ReadFile(StorePath("packages.dat"));
        ASSERT_TRUE(index == OldIndex || index == NewIndex)
            << "torn index of " << index.size() << " bytes after a kill at attempt " << attempt;
        const size_t installed = InstalledNames().size();
        ASSERT_TRUE(installed == PackageCount || installed == PackageCount + 1);
        (index == OldIndex ? oldKept : newKept)++;
    }
    std::printf(
        "whole run %lld us, save %lld us; %d kills: old index %d, new index %d, %d while the temporary "
        "index existed\n",
        wholeMicros, saveMicros, kills, oldKept, newKept, killedWhileSaving);
    EXPECT_EQ(kills, Kills);
    EXPECT_GT(killedWhileSaving, 0);
}

}  // namespace
