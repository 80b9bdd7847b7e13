#pragma once

#include "file/FileFactoryClass.h"
#include "foundation/SimpleVecClass.h"
#include "foundation/StringClass.h"
#include "foundation/VectorClass.h"

// Asks a chain of factories in the order they were added and returns the
// first object that is available; when none has the name, a fresh object of
// the first factory. Does not own the factories.
class FileFactoryListClass : public FileFactoryClass {
public:
    FileFactoryListClass() = default;
    ~FileFactoryListClass() override = default;

    FileClass* GetFile(const char* name) override;
    void ReturnFile(FileClass* file) override;

    void AddFactory(FileFactoryClass* factory, const char* name);
    int GetFactoryCount() const { return Factories.Count(); }

private:
    FileFactoryClass* PreferredFactory = nullptr;
    SimpleDynVecClass<FileFactoryClass*> Factories;
    DynamicVectorClass<StringClass> FactoryNames;
    int Reserved = 0;
};

// The process-wide chain: data folders first, then the game's archives.
extern FileFactoryListClass GlobalFactoryList;
