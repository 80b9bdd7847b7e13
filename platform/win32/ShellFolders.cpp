#include "platform/ShellFolders.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
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

bool GetDocumentsFolder(std::string& folder) { return GetShellFolder(CSIDL_PERSONAL, folder); }

bool GetApplicationDataFolder(std::string& folder) { return GetShellFolder(CSIDL_APPDATA, folder); }

}  // namespace platform
