#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stress/StoreModel.h"

namespace stress {

struct StressOptions {
    uint64_t seed = 1;
    int steps = 0;    // stop after this many steps; 0: no limit
    int seconds = 0;  // stop once this many seconds have passed; 0: no limit
};

struct StressResult {
    int steps = 0;
    // Empty when every invariant held; otherwise the violation, the seed, the
    // step number, the last steps and where the store was kept.
    std::string violation;
    // Faults that could not be had here (the memory disk), for the log.
    std::string skipped;
    // How the steps ended, per command and fault, for the log.
    std::string summary;
};

// Runs the real Quillbox through random steps from the seed (conversions,
// installs, uninstalls, downloads from a loopback repository, lists, kills at
// random moments, a nearly full disk, a damaged index) and checks after each
// step that the store keeps its promises.
StressResult RunStoreStress(const StressOptions& options);

// The version and author with which the repository's packages are converted.
constexpr const char* RepositoryVersion = "3.0";
constexpr const char* RepositoryAuthor = "Repo Keeper";

// One step of a fixed case: what it runs is written out, not drawn, and it is
// never killed.
struct FixedStep {
    enum class Kind { Convert, Install, Uninstall, Download, List, FillDisk, FreeDisk };
    Kind kind;
    std::string package;  // the package of an archive, or none
    // A download's source below the loopback server: "repo", or a fault of
    // the server before it ("_short/repo").
    std::string source = "repo";
    long freeBytes = 0;  // what filling the disk leaves
    // Besides what the model allows: the step must end with a failure, and
    // its messages must hold this text, which shows that it got as far as
    // the case needs.
    bool mustFail = false;
    std::string shows{};
};

// Archives of packages (converted with version 1.0 by Jane Doe, published as
// RepositoryVersion by RepositoryAuthor) and steps on them, checked after each
// step as a random run is. A case that fills the disk is not run where the
// memory disk cannot be had: it then returns 0 steps and says why in
// `skipped`.
struct FixedCase {
    std::vector<std::pair<std::string, std::vector<Member>>> archives;
    std::vector<FixedStep> steps;
};

StressResult RunFixedCase(const FixedCase& fixedCase);

}  // namespace stress
