#pragma once

#include "file/FileFactoryClass.h"
#include "foundation/CriticalSection.h"
#include "foundation/StringClass.h"

// Finds files in a list of folder prefixes separated by ';'. Absolute names
// (second character ':', two leading backslashes, or a leading '/') are used
// unchanged. Never fails a lookup: a missing file yields an object whose Open
// fails, named after the last folder so that a new file would be created there.
class SimpleFileFactoryClass : public FileFactoryClass {
public:
    SimpleFileFactoryClass();
    ~SimpleFileFactoryClass() override;

    FileClass* GetFile(const char* name) override;
    void ReturnFile(FileClass* file) override;

    void SetSearchPath(const char* path);
    // One folder prefix, used whole: a ';' in its name is part of the name
    // and does not split it. AddSearchFolder makes a list again.
    void SetSearchFolder(const char* folder);
    // Appends a folder (a backslash added when missing); ignores an empty
    // folder or one longer than 1022 characters.
    void AddSearchFolder(const char* folder);
    StringClass GetSearchPath();

private:
    StringClass SearchPath;
    bool StripFolders = false;
    bool SingleFolder = false;
    CriticalSection Lock;
};

// The process-wide folder factory over the game's data folders.
extern SimpleFileFactoryClass DataFolderFactory;
