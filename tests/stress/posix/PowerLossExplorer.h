#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Runs a fixed sequence of Quillbox commands on one store under strace and
// checks every state that a power loss during a command may leave (see
// CrashStates.h): the index loads, no reported package is lost, and what a
// user runs next makes every listed package whole.
namespace stress {

struct PowerLossOptions {
    uint64_t seed = 1;
    int pointsPerCommand = 10;  // crash points checked per command, besides the end of the run
    int randomVariants = 2;     // random states per crash point, besides the classic and the whole one
    std::string program;        // the Quillbox to check
    std::string strace;
};

struct PowerLossResult {
    // The exploration itself failed: the set-up, a traced run that did not
    // end as the scenario expects, a trace the model cannot replay.
    std::string failure;
    // The first violation of each kind per command, in full; `violations`
    // counts them all.
    std::vector<std::string> reports;
    int violations = 0;
    int commands = 0;
    int points = 0;
    int states = 0;
    std::string summary;  // per command
};

// The strace program on the PATH; empty when there is none.
std::string FindStrace();
// Why strace cannot trace here (ptrace refused); empty when it can.
std::string TraceRefusal(const std::string& strace);

PowerLossResult ExplorePowerLoss(const PowerLossOptions& options);

}  // namespace stress
