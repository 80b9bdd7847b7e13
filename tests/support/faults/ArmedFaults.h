#pragma once

#include <ostream>
#include <string>

#include "platform/FaultInjection.h"

// The armed seam of platform/FaultInjection.h, linked as an object into the
// unit tests that fail calls in-process and into QuillboxFaulty, the test
// build of the program. That one reads its fault from the environment:
// QUILLBOX_FAIL=<kind>:<N> fails the Nth call of the kind, and when it fails,
// "<kind> <N>" is appended to the file that QUILLBOX_FAIL_MARKER names, so
// that a test learns whether the run made an Nth call at all.
namespace testsupport {

// The kinds' names in QUILLBOX_FAIL.
inline const char* const FaultKindNames[platform::FaultKindCount] = {"open",  "write", "rename", "delete",
                                                                     "mkdir", "force", "sync",   "lock"};
inline std::string FaultKindName(platform::FaultKind kind) { return FaultKindNames[static_cast<int>(kind)]; }

// The nth call of the kind from now on fails (n from 1); one call in all.
void ArmFault(platform::FaultKind kind, int n);
void DisarmFault();
// True when the armed call has failed.
bool FaultFired();

}  // namespace testsupport

namespace platform {

// For the names of GoogleTest's parameters.
inline void PrintTo(FaultKind kind, std::ostream* out) { *out << testsupport::FaultKindName(kind); }

}  // namespace platform
