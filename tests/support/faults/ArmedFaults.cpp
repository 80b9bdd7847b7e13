#include "support/faults/ArmedFaults.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

using platform::FaultKind;

// The armed kind (-1: none) and the number of its call that fails; the
// download worker and the main thread ask at once.
std::atomic<int> ArmedKind{-1};
std::atomic<int> ArmedCall{0};
std::atomic<int> Calls{0};
std::atomic<bool> Fired{false};
std::once_flag EnvironmentRead;

void ArmFromEnvironment() {
    const char* fault = std::getenv("QUILLBOX_FAIL");
    const char* colon = fault != nullptr ? std::strchr(fault, ':') : nullptr;
    if (colon == nullptr) {
        return;
    }
    const std::string name(fault, colon);
    for (int kind = 0; kind < platform::FaultKindCount; ++kind) {
        if (name == testsupport::FaultKindNames[kind]) {
            testsupport::ArmFault(static_cast<FaultKind>(kind), std::atoi(colon + 1));
        }
    }
}

void MarkFired(int kind, int call) {
    const char* marker = std::getenv("QUILLBOX_FAIL_MARKER");
    if (marker == nullptr) {
        return;
    }
    if (FILE* file = std::fopen(marker, "a")) {
        std::fprintf(file, "%s %d\n", testsupport::FaultKindNames[kind], call);
        std::fclose(file);
    }
}

}  // namespace

namespace platform {

bool InjectedFault(FaultKind kind) {
    std::call_once(EnvironmentRead, ArmFromEnvironment);
    const int call = ArmedCall;
    if (static_cast<int>(kind) != ArmedKind || ++Calls != call) {
        return false;
    }
    Fired = true;
    MarkFired(static_cast<int>(kind), call);
    return true;
}

}  // namespace platform

namespace testsupport {

void ArmFault(FaultKind kind, int n) {
    ArmedKind = -1;
    Calls = 0;
    Fired = false;
    ArmedCall = n;
    ArmedKind = static_cast<int>(kind);
}

void DisarmFault() { ArmedKind = -1; }

bool FaultFired() { return Fired; }

}  // namespace testsupport
