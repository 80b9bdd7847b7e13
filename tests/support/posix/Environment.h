#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The test's own environment with `changes` applied: NAME=VALUE adds or
// replaces a variable, NAME alone removes it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes);

}  // namespace testsupport
