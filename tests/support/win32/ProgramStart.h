#pragma once

#include <string>
#include <vector>

namespace testsupport {

// One argument quoted so that the started program's runtime (or Wine, for a
// program of the host system) splits the command line back into the same
// arguments.
inline std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char character : argument) {
        if (character == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only before a quote.
        quoted.append(character == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += character;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

// The environment block of this process with the changes applied: NAME=VALUE
// adds or replaces, NAME alone removes; names ignore letter case, as Windows
// treats them.
std::string MergedEnvironmentBlock(const std::vector<std::string>& changes);

// Ends a program the way an interrupt would, with an exit code that says it
// did not end normally.
constexpr unsigned long KilledExitCode = 0xC000013Aul;

}  // namespace testsupport
