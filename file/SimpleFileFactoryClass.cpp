#include "file/SimpleFileFactoryClass.h"

#include <cstring>

#include "file/BufferedFileClass.h"

SimpleFileFactoryClass DataFolderFactory;

namespace {

constexpr int FolderBufferSize = 1024;
constexpr int LongestFolder = FolderBufferSize - 2;  // room for a backslash and the terminator

bool IsAbsoluteName(const char* name) {
    return (name[0] != 0 && name[1] == ':') || (name[0] == '\\' && name[1] == '\\') || name[0] == '/';
}

// Tries folder + name for each non-empty ';'-separated folder in order and
// stops at the first that opens for reading. Returns the last candidate, so
// a file that exists nowhere is named after the last folder.
StringClass FindInFolders(const char* folders, const char* name, FileClass& file) {
    StringClass candidate;
    while (*folders != 0) {
        const char* end = std::strchr(folders, ';');
        const int length = end != nullptr ? static_cast<int>(end - folders) : static_cast<int>(std::strlen(folders));
        if (length > 0) {
            candidate = FormatString("%.*s%s", length, folders, name);
            file.SetFileName(candidate);
            if (file.Open(FileClass::ReadOnly)) {
                file.Close();
                break;
            }
        }
        folders += end != nullptr ? length + 1 : length;
    }
    return candidate;
}

}  // namespace

SimpleFileFactoryClass::SimpleFileFactoryClass() = default;

SimpleFileFactoryClass::~SimpleFileFactoryClass() = default;

void SimpleFileFactoryClass::SetSearchPath(const char* path) {
    if (path == nullptr) {
        return;
    }
    ScopedLock guard(Lock);
    SearchPath = path;
    SingleFolder = false;
}

void SimpleFileFactoryClass::SetSearchFolder(const char* folder) {
    if (folder == nullptr) {
        return;
    }
    ScopedLock guard(Lock);
    SearchPath = folder;
    SingleFolder = true;
}

void SimpleFileFactoryClass::AddSearchFolder(const char* folder) {
    if (folder == nullptr) {
        return;
    }
    const size_t length = std::strlen(folder);
    if (length == 0 || length > LongestFolder) {
        return;
    }
    char buffer[FolderBufferSize];
    std::memcpy(buffer, folder, length + 1);
    if (buffer[length - 1] != '\\') {
        buffer[length] = '\\';
        buffer[length + 1] = 0;
    }
    ScopedLock guard(Lock);
    SingleFolder = false;
    const int pathLength = SearchPath.GetLength();
    if (pathLength > 0 && SearchPath.Peek()[pathLength - 1] != ';') {
        SearchPath += ';';
    }
    SearchPath += buffer;
}

StringClass SimpleFileFactoryClass::GetSearchPath() {
    ScopedLock guard(Lock);
    return StringClass(SearchPath);
}

FileClass* SimpleFileFactoryClass::GetFile(const char* name) {
    if (name == nullptr) {
        name = "";
    }
    BufferedFileClass* file = new BufferedFileClass();
    StringClass fullName;
    if (IsAbsoluteName(name)) {
        fullName = name;
    } else {
        // The candidates are opened under the lock so that a folder added by
        // another thread never changes the list half-way through a search.
        ScopedLock guard(Lock);
        if (!SingleFolder && std::strchr(SearchPath.Peek(), ';') != nullptr) {
            fullName = FindInFolders(SearchPath.Peek(), name, *file);
        } else if (!SearchPath.IsEmpty()) {
            fullName = FormatString("%s%s", SearchPath.Peek(), name);
        }
    }
    file->SetFileName(fullName);
    return file;
}

void SimpleFileFactoryClass::ReturnFile(FileClass* file) { delete file; }
