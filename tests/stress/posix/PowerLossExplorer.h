#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Runs fixed sequences of Quillbox commands on one store under strace and
// checks every state that a power loss during a command may leave (see
// CrashStates.h): the index loads, no reported package is lost, and what a
// user runs next makes every listed package whole. Each command also runs
// on states a kill of the command before it left, with that command's
// unforced changes still pending, and must then keep what it reports.
namespace stress {

struct PowerLossOptions {
    uint64_t seed = 1;
    std::string scenario;       // one of PowerLossScenarios(); empty: all of them
    int pointsPerCommand = 10;  // crash points checked per command, besides the end of the run
    int randomVariants = 2;     // random states per crash point, besides the fixed ones
    // Whether the fixed states include the one where every unforced block
    // reads as zeros (random states may hold such blocks all the same).
    bool zeroedVariant = true;
    int killPoints = 2;       // kills of a command from which the next command runs
    int pointsAfterKill = 3;  // crash points checked of a command run after a kill, besides its end
    std::string program;      // the Quillbox to check
    // The Quillbox that runs the traced commands, when it is not `program`:
    // the states an earlier build leaves, recovered by the one checked.
    std::string writer;
    std::string strace;
};

struct PowerLossResult {
    // The exploration itself failed: the set-up, a traced run that did not
    // end as the scenario expects, a trace the model cannot replay.
    std::string failure;
    // A scenario that could not run here, and why.
    std::string skipped;
    // The first violation of each kind per command, in full; `violations`
    // counts them all, `tally` by check and variant.
    std::vector<std::string> reports;
    int violations = 0;
    std::map<std::string, int> tally;
    int commands = 0;
    int kills = 0;
    int points = 0;
    int states = 0;
    std::string summary;  // per command
};

// The names of the scenarios.
std::vector<std::string> PowerLossScenarios();

// The strace program on the PATH; empty when there is none.
std::string FindStrace();
// Why strace cannot trace here (ptrace refused); empty when it can.
std::string TraceRefusal(const std::string& strace);

PowerLossResult ExplorePowerLoss(const PowerLossOptions& options);

}  // namespace stress
