#include "support/ProgramCopy.h"

#include <filesystem>

namespace testsupport {

namespace fs = std::filesystem;

std::string CopyProgramInto(const std::string& folder, const std::string& program) {
    const std::string copy = folder + "/Quillbox";
    CopyFile(program, copy);
    fs::permissions(copy, fs::perms::owner_exec, fs::perm_options::add);
    return copy;
}

// Entry by entry: the standard library of mingw-w64 refuses to copy a folder
// into one that exists.
void PublishStore(const std::string& store, const std::string& repositoryFolder) {
    for (const std::string folder : {"packages", "files"}) {
        const std::string target = repositoryFolder + "/" + folder;
        fs::create_directories(target);
        for (const auto& entry : fs::directory_iterator(store + "/" + folder)) {
            fs::copy(entry.path(), target + "/" + entry.path().filename().string(),
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        }
    }
}

std::optional<ProgramResult> PublishConversions(const std::string& program, const std::vector<std::string>& archives,
                                                const std::string& version, const std::string& author,
                                                const std::string& repositoryFolder, int timeoutSeconds) {
    TempDir maintainer;
    const std::string copy = CopyProgramInto(maintainer.Path(), program);
    for (const std::string& archive : archives) {
        ProgramResult made = RunProgram(copy, {"convert", archive, version, author}, maintainer.Path(),
                                        {"HOME=" + maintainer.Path()}, timeoutSeconds);
        if (made.exitCode != 0) return made;
    }
    PublishStore(fs::canonical(maintainer.Path()).string() + "/Ironveil/Ironveil/mofs", repositoryFolder);
    return std::nullopt;
}

}  // namespace testsupport
