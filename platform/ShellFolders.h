#pragma once

#include <string>

// The folders a program of this system bases its data folders on: its own
// folder and the user's Documents and application-data folders. They are
// native paths: a path that begins with one keeps its bytes as they are,
// where the system's own backslashes after it become separators.
namespace platform {

// The folder of the running program, symbolic links resolved, without a
// trailing separator ("" for the root folder).
std::string GetProgramFolder();

// True when the folder is one of the system's program folders (on Linux
// /usr, /bin, /sbin, /opt and the folders below them; on Windows the Program
// Files folders and those below them): no program makes data folders there.
bool IsSystemProgramFolder(const std::string& folder);

// True when the program's own folder may hold its data folders: it is no
// system program folder and the user can write to it.
bool MayHoldDataFolders(const std::string& programFolder);

// The user's Documents folder; false when the lookup failed.
bool GetDocumentsFolder(std::string& folder);

// The user's application-data folder; false when the lookup failed.
bool GetApplicationDataFolder(std::string& folder);

}  // namespace platform
