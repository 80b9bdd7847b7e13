#include "quillbox/Commands.h"

// Not built yet: the command does nothing.
void RegisterDataFactories() {}
