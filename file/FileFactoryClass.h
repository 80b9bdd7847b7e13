#pragma once

class FileClass;

// Hands out file objects by name and takes them back. Objects come unopened;
// whoever gets one opens and closes it and gives it back with ReturnFile.
class FileFactoryClass {
public:
    virtual ~FileFactoryClass() = default;
    virtual FileClass* GetFile(const char* name) = 0;
    virtual void ReturnFile(FileClass* file) = 0;
};

// The factory chain that shared code uses; null until start-up sets it.
extern FileFactoryClass* ActiveFileFactory;
