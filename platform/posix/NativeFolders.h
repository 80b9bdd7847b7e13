#pragma once

#include <string>

// Within the POSIX backend: the system spells its paths with backslashes,
// which become '/' here, but a folder that the system did not name itself
// (the program's own, the user's shell folders) is a native path whose
// backslashes are ordinary bytes of its names.
namespace platform::native {

// Keeps the folder's bytes as they are wherever a path begins with it.
void KeepFolder(const std::string& folder);

// The path with its backslashes turned into '/', except within the longest
// kept folder that it begins with (followed by a separator or the end).
std::string PathOf(const char* path);

}  // namespace platform::native
