#include "file/FileFactoryListClass.h"

#include "file/FileClass.h"

FileFactoryListClass GlobalFactoryList;

namespace {

// The factory's object for name when it is available; otherwise the object
// goes back to the factory and the answer is null.
FileClass* GetAvailableFile(FileFactoryClass* factory, const char* name) {
    FileClass* file = factory->GetFile(name);
    if (file == nullptr) {
        return nullptr;
    }
    if (file->IsAvailable(false)) {
        return file;
    }
    factory->ReturnFile(file);
    return nullptr;
}

}  // namespace

FileClass* FileFactoryListClass::GetFile(const char* name) {
    if (PreferredFactory != nullptr) {
        if (FileClass* file = GetAvailableFile(PreferredFactory, name)) {
            return file;
        }
    }
    for (int index = 0; index < Factories.Count(); ++index) {
        if (FileClass* file = GetAvailableFile(Factories[index], name)) {
            return file;
        }
    }
    if (Factories.Count() == 0) {
        return nullptr;
    }
    // Nobody has the name: the first factory names the place where a new
    // file of that name would be created.
    return Factories[0]->GetFile(name);
}

void FileFactoryListClass::ReturnFile(FileClass* file) {
    if (Factories.Count() > 0) {
        Factories[0]->ReturnFile(file);
    } else {
        delete file;
    }
}

void FileFactoryListClass::AddFactory(FileFactoryClass* factory, const char* name) {
    Factories.Add(factory);
    FactoryNames.Add(StringClass(name != nullptr ? name : ""));
    Reserved = 0;
}
