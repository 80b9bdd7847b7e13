#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The tests of the Windows build run under Wine, which also starts programs of
// the host system. These reach what Windows has no counterpart for (mounting a
// file system, the always-full device). On real Windows, or outside Wine,
// nothing here is possible and the callers skip.

// The host system's spelling of a Windows path; empty when not under Wine.
std::string HostPath(const std::string& path);

struct HostCommandResult {
    bool finished = false;  // false when it could not be started or did not end in time
    int exitCode = -1;
    std::string output;  // standard output and error together
};

// A new empty file in the temporary folder, whose name starts with the
// prefix (at most three characters); empty when none could be made.
std::string UniqueTemporaryFile(const char* prefix);

// Runs a shell script of the host system with the arguments as $1, $2, ...
// and waits for it.
HostCommandResult RunHostScript(const std::string& script, const std::vector<std::string>& arguments,
                                int timeoutSeconds = 60);

}  // namespace testsupport
