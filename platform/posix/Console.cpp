#include "platform/Console.h"

namespace platform {

// POSIX streams never translate line ends.
void PrepareConsole() {}

}  // namespace platform
