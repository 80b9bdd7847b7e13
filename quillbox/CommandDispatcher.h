#pragma once

// Picks the command named by argv[1] (without regard to letter case), checks
// its argument count and runs it. Returns the program's exit code.
int DispatchCommand(int argc, char** argv);
