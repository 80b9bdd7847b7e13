#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// Copies the program into the folder as "Quillbox", runnable, and returns the
// copy's path. With no paths.ini beside it, the copy's store lies below that
// folder, so every copy has a store of its own.
std::string CopyProgramInto(const std::string& folder, const std::string& program = QUILLBOX_EXE);

// Publishes a store as a repository: its packages/ and files/ copied below
// the repository folder, which may exist already.
void PublishStore(const std::string& store, const std::string& repositoryFolder);

// Publishes what a maintainer converts: a copy of the program in a fresh
// folder converts each archive with the version and author, and its store is
// published. Returns the first convert that did not exit with 0, if any.
[[nodiscard]] std::optional<ProgramResult> PublishConversions(const std::string& program,
                                                              const std::vector<std::string>& archives,
                                                              const std::string& version, const std::string& author,
                                                              const std::string& repositoryFolder, int timeoutSeconds);

}  // namespace testsupport
