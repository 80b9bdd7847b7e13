#include "quillbox/Commands.h"

// Not built yet: the command does nothing.
int RunList() { return 0; }
int RunInstall(const char*) { return 0; }
int RunUninstall(const char*) { return 0; }
