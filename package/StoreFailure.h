#pragma once

#include "foundation/StringClass.h"

// The last call on the store that failed in this run, so that a command that
// fails because of it can say why under its own message: which call, on which
// path, and the system's reason. The last rather than the first, as a command
// gives up at the failure that decides, while an earlier one may have been
// borne (a copy that was not needed after all). The download worker notes
// failures too, so the note has a lock of its own.

// Keeps "Could not <action>: <reason>." with the system's reason for the
// error number the failed call left, in the place of any earlier one. The
// action names the call and its paths ("sync the folder '/srv/mofs'").
// Always false, so that a call and its note read `done || NoteStoreFailure(...)`.
bool NoteStoreFailure(const StringClass& action);
// The same for the path of a call, spelled as this system spells paths.
StringClass QuotedPath(const char* path);
// The kept line, without a line break; empty when no store call failed.
StringClass DescribeStoreFailure();
// Forgets the kept failure (a test that runs several commands in one process).
void ForgetStoreFailure();
