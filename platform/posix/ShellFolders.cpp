#include "platform/ShellFolders.h"

#include "platform/posix/NativeFolders.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <vector>

namespace platform {

namespace {

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The user's home folder; false when HOME is unset or empty, which is how a
// failed shell-folder lookup shows itself here.
bool GetHome(std::string& home) {
    const char* value = std::getenv("HOME");
    if (value == nullptr || value[0] == 0) {
        return false;
    }
    home = WithoutTrailingSeparators(value);
    return true;
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

// A base-directory variable counts only when it holds an absolute path.
std::string AbsoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// The value of a line NAME="..." in shell quoting: quotes removed, a
// backslash takes the next byte as it is, and $HOME becomes the home folder.
std::string UnquoteAndExpand(const std::string& text, const std::string& home) {
    std::string result;
    bool quoted = false;
    for (size_t index = 0; index < text.size(); ++index) {
        const char character = text[index];
        if (character == '"') {
            quoted = !quoted;
        } else if (character == '\\' && index + 1 < text.size()) {
            result += text[++index];
        } else if (text.compare(index, 7, "${HOME}") == 0) {
            result += home;
            index += 6;
        } else if (text.compare(index, 5, "$HOME") == 0) {
            result += home;
            index += 4;
        } else if (!quoted && (character == ' ' || character == '\t' || character == '#')) {
            break;
        } else {
            result += character;
        }
    }
    return result;
}

// XDG_DOCUMENTS_DIR as the user-dirs file sets it (the last setting wins);
// empty when the file or the setting is missing.
std::string ReadDocumentsSetting(const std::string& home) {
    std::string configHome = AbsoluteVariable("XDG_CONFIG_HOME");
    if (configHome.empty()) {
        configHome = home + "/.config";
    }
    std::ifstream file(configHome + "/user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=";
    std::string setting;
    std::string line;
    while (std::getline(file, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line.compare(start, key.size(), key) == 0) {
            setting = UnquoteAndExpand(line.substr(start + key.size()), home);
        }
    }
    return setting;
}

// The folders given out are native paths: a backslash in them is part of a
// name, where the system's own backslashes separate folders.
std::string Kept(std::string folder) {
    native::KeepFolder(folder);
    return folder;
}

}  // namespace

std::string GetProgramFolder() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return ".";  // Without /proc the current folder is the best guess.
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<size_t>(length));
            const size_t slash = path.rfind('/');
            return Kept(slash == std::string::npos ? std::string(".") : path.substr(0, slash));
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool IsSystemProgramFolder(const std::string& folder) {
    for (const std::string system : {"/usr", "/bin", "/sbin", "/opt"}) {
        if (folder.compare(0, system.size(), system) == 0 &&
            (folder.size() == system.size() || folder[system.size()] == '/')) {
            return true;
        }
    }
    return false;
}

// Root may write to /usr/bin, so the folder's place decides first; a
// read-only file system refuses even root.
bool MayHoldDataFolders(const std::string& programFolder) {
    const std::string folder = programFolder.empty() ? std::string("/") : programFolder;
    return !IsSystemProgramFolder(folder) && access(folder.c_str(), W_OK) == 0;
}

bool GetDocumentsFolder(std::string& folder) {
    std::string home;
    if (!GetHome(home)) {
        return false;
    }
    const std::string setting = ReadDocumentsSetting(home);
    folder = Kept(WithoutTrailingSeparators(IsAbsolute(setting) ? setting : home + "/Documents"));
    return true;
}

bool GetApplicationDataFolder(std::string& folder) {
    std::string home;
    if (!GetHome(home)) {
        return false;
    }
    const std::string dataHome = AbsoluteVariable("XDG_DATA_HOME");
    folder = Kept(WithoutTrailingSeparators(dataHome.empty() ? home + "/.local/share" : dataHome));
    return true;
}

}  // namespace platform
