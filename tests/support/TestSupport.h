#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A fresh folder below the system's temporary folder, removed with all its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return Root; }
    // Root joined with a relative path.
    std::string operator/(const std::string& relative) const { return Root + "/" + relative; }

private:
    std::string Root;
};

std::string ReadFile(const std::string& path);
// Writes bytes to path, creating the folders above it.
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
void MakeFolders(const std::string& path);
// Names in a folder (without "." and ".."), sorted; empty when it is missing.
std::vector<std::string> ListFolder(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);

// Makes path a name whose writes fail for lack of space: on Linux a link to
// the always-full device, under Wine a link to a file on a full memory disk.
// False where neither can be had, an exception when the link cannot be made.
bool MakeFullDeviceLink(const std::string& path);

// Sets or removes a variable of the test's own environment.
void SetEnvironmentValue(const std::string& name, const std::string& value);
void RemoveEnvironmentValue(const std::string& name);

// The MD5 digest (32 lower-case hexadecimal digits) of the files' contents one
// after the other, computed by a tool of the system that has nothing to do with
// the code under test; empty when the files cannot be read.
std::string ReferenceMd5(const std::vector<std::string>& paths);

struct ProgramResult {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with arguments in a working folder and waits for it (killed
// after timeoutSeconds). `environment` entries NAME=VALUE are added to, or
// replace, the test's own environment; an entry NAME alone removes it.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingFolder, const std::vector<std::string>& environment = {},
                         int timeoutSeconds = 120);

}  // namespace testsupport
