#include "quillbox/Commands.h"

// Not built yet: the command does nothing.
int RunDownload(const char*, const char*) { return 0; }
