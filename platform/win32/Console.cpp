#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

// The C runtime opens the standard streams in text mode, which would turn
// every "\n" of a "\r\n" the programs write into "\r\n" again.
void PrepareConsole() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace platform
