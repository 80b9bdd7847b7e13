#include "quillbox/Commands.h"

// Not built yet: the command does nothing.
int RunConvert(const char*, const char*, const char*) { return 0; }
