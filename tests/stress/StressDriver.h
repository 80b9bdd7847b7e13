#pragma once

#include <cstdint>
#include <string>

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

}  // namespace stress
