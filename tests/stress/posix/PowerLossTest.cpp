// The states a power loss may leave in the store during each command of
// fixed scenarios (see PowerLossExplorer.h). A short run of each scenario
// from a fixed seed is part of every test run; a long run is started by
// scripts/stress --power-loss, which sets QUILLBOX_POWER_LOSS_SECONDS and
// QUILLBOX_POWER_LOSS_SEED. QUILLBOX_POWER_LOSS_PROGRAM names another
// Quillbox to check, QUILLBOX_POWER_LOSS_WRITER one that runs the traced
// commands (the states an earlier build leaves, recovered by the checked one).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "stress/posix/PowerLossExplorer.h"

namespace {

// The program runs several times slower under a sanitizer: there the run
// after a kill is checked at its end only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int ShortPoints = 3;
constexpr int ShortVariants = 1;
constexpr int ShortKills = 1;
constexpr int ShortPointsAfterKill = 0;
#else
constexpr int ShortPoints = 16;
constexpr int ShortVariants = 2;
constexpr int ShortKills = 2;
constexpr int ShortPointsAfterKill = 1;
#endif

class PowerLossTest : public testing::Test {
protected:
    void SetUp() override {
        Options.strace = stress::FindStrace();
        ASSERT_FALSE(Options.strace.empty()) << "strace is missing: scripts/setup installs it";
        const std::string refusal = stress::TraceRefusal(Options.strace);
        if (!refusal.empty()) GTEST_SKIP() << refusal << " (the system refuses ptrace)";
        const char* program = std::getenv("QUILLBOX_POWER_LOSS_PROGRAM");
        Options.program = program != nullptr ? program : QUILLBOX_EXE;
        const char* writer = std::getenv("QUILLBOX_POWER_LOSS_WRITER");
        Options.writer = writer != nullptr ? writer : "";
    }

    // Explores from the seed and reports what it found.
    stress::PowerLossResult ExploreAndReport() {
        const stress::PowerLossResult result = stress::ExplorePowerLoss(Options);
        std::printf("seed %llu (%s%s):\n%s%d commands, %d kills, %d crash points, %d states, %d violations\n",
                    static_cast<unsigned long long>(Options.seed), Options.program.c_str(),
                    Options.writer.empty() ? "" : (", traced runs by " + Options.writer).c_str(),
                    result.summary.c_str(), result.commands, result.kills, result.points, result.states,
                    result.violations);
        for (const auto& [kind, count] : result.tally) std::printf("  %5d  %s\n", count, kind.c_str());
        if (!result.skipped.empty()) std::printf("not run here: %s", result.skipped.c_str());
        if (result.failure.empty() && result.commands == 0) return result;
        EXPECT_TRUE(result.failure.empty()) << result.failure;
        for (const std::string& report : result.reports) ADD_FAILURE() << report;
        EXPECT_EQ(result.violations, 0) << "of which the first of each kind per command are told above";
        // A run that checked no state would pass without proving anything.
        EXPECT_GT(result.states, result.commands);
        return result;
    }

    stress::PowerLossOptions Options;
};

class PowerLossScenarioTest : public PowerLossTest, public testing::WithParamInterface<std::string> {};

TEST_P(PowerLossScenarioTest, EveryCrashStateOfTheScenarioRecovers) {
    Options.seed = 20261209;
    Options.scenario = GetParam();
    Options.pointsPerCommand = ShortPoints;
    Options.randomVariants = ShortVariants;
    Options.killPoints = ShortKills;
    Options.pointsAfterKill = ShortPointsAfterKill;
    // The state where unforced blocks read as zeros is what an earlier
    // build's stores add to the cut ones; random states hold such blocks too.
    Options.zeroedVariant = !Options.writer.empty();
    const stress::PowerLossResult result = ExploreAndReport();
    if (result.failure.empty() && result.commands == 0) GTEST_SKIP() << result.skipped;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PowerLossScenarioTest, testing::ValuesIn(stress::PowerLossScenarios()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

// More crash points, kills and states per command, every scenario from seed
// after seed.
TEST_F(PowerLossTest, LongRunOfTheEnvironmentRecovers) {
    const char* seconds = std::getenv("QUILLBOX_POWER_LOSS_SECONDS");
    if (seconds == nullptr) GTEST_SKIP() << "a long run is started by scripts/stress --power-loss SECONDS [SEED]";
    const char* seed = std::getenv("QUILLBOX_POWER_LOSS_SEED");
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(std::atoi(seconds));
    Options.seed = seed != nullptr ? std::strtoull(seed, nullptr, 10) : 1;
    Options.pointsPerCommand = 60;
    Options.randomVariants = 6;
    Options.killPoints = 8;
    Options.pointsAfterKill = 20;
    int failed = 0;
    for (; Clock::now() < end; ++Options.seed) {
        const stress::PowerLossResult result = ExploreAndReport();
        failed += result.failure.empty() && result.violations == 0 ? 0 : 1;
    }
    std::printf("long run: %d seeds with a violation\n", failed);
}

}  // namespace
