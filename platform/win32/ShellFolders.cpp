#include "platform/ShellFolders.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace platform {

namespace {

// A shell folder as the ANSI functions spell it. The lookup counts as failed
// when the folder's name holds a character beyond the first 256 code points:
// the ANSI code page could not spell it faithfully, and a path with a
// replacement character would lead somewhere else.
bool GetShellFolder(int folderId, std::string& folder) {
    wchar_t wide[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, wide, folderId, FALSE)) {
        return false;
    }
    const wchar_t* const end = wide + wcslen(wide);
    if (std::any_of(static_cast<const wchar_t*>(wide), end, [](wchar_t unit) { return unit > 255; })) {
        return false;
    }
    char ansi[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, ansi, folderId, FALSE)) {
        return false;
    }
    folder = ansi;
    return true;
}

}  // namespace

// The program's own path cut at its last backslash. A path longer than the
// usual limit of 260 bytes is fetched whole instead of cut short, which would
// name another folder.
std::string GetProgramFolder() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return ".";
        }
        if (length < buffer.size()) {
            const std::string path(buffer.data(), length);
            const size_t separator = path.find_last_of('\\');
            return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
        }
        buffer.resize(buffer.size() * 2);
    }
}

namespace {

// The folder is the other one, or lies below it; letter case does not count.
bool IsWithin(const std::string& folder, const std::string& other) {
    if (other.empty() || folder.size() < other.size() ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, folder.c_str(), static_cast<int>(other.size()), other.c_str(),
                       static_cast<int>(other.size())) != CSTR_EQUAL) {
        return false;
    }
    return folder.size() == other.size() || folder[other.size()] == '\\' || other.back() == '\\';
}

std::string VariableText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// A file of this process's own name, created and deleted again, tells
// whether the user may write there; a folder's attributes do not.
bool CanCreateFileIn(const std::string& folder) {
    const std::string probe = folder + "\\~quillbox-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

}  // namespace

// A 32-bit program sees the 32-bit Program Files folder as CSIDL_PROGRAM_FILES,
// so the 64-bit one comes from ProgramW6432.
bool IsSystemProgramFolder(const std::string& folder) {
    std::vector<std::string> systemFolders = {VariableText("ProgramW6432"), VariableText("ProgramFiles"),
                                              VariableText("ProgramFiles(x86)")};
    for (const int folderId : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        char path[MAX_PATH] = {};
        if (SHGetSpecialFolderPathA(nullptr, path, folderId, FALSE)) {
            systemFolders.emplace_back(path);
        }
    }
    return std::any_of(systemFolders.begin(), systemFolders.end(),
                       [&folder](const std::string& system) { return IsWithin(folder, system); });
}

// Writes below Program Files may be redirected to the user's virtual store,
// so the folder's place decides first.
bool MayHoldDataFolders(const std::string& programFolder) {
    return !IsSystemProgramFolder(programFolder) && CanCreateFileIn(programFolder);
}

bool GetDocumentsFolder(std::string& folder) { return GetShellFolder(CSIDL_PERSONAL, folder); }

bool GetApplicationDataFolder(std::string& folder) { return GetShellFolder(CSIDL_APPDATA, folder); }

}  // namespace platform
