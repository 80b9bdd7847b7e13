#include "platform/FaultInjection.h"

// Alone in its file, so that a test build's armed seam, linked as an object,
// takes the place of this one: the archive member is then never pulled in.
namespace platform {

bool InjectedFault(FaultKind) { return false; }

}  // namespace platform
