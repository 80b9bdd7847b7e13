#include "config/DataPaths.h"

#include <cstdlib>
#include <string>

#include "config/IniFile.h"
#include "file/FileClass.h"
#include "file/FileFactoryClass.h"
#include "platform/ShellFolders.h"

bool DataPathsDiscovered = false;
StringClass GameFilesPath;
StringClass StoreBasePath;

namespace {

// The base folder followed by each name and a backslash after each.
StringClass JoinFolders(const char* base, const char* first, const char* second) {
    StringClass path(base);
    path += '\\';
    path += first;
    path += '\\';
    path += second;
    path += '\\';
    return path;
}

}  // namespace

bool IsTrueSetting(const char* value) {
    if (value == nullptr) {
        return false;
    }
    if (value[0] == 'y' || value[0] == 't') {
        return true;
    }
    return std::strtol(value, nullptr, 10) != 0;
}

DataPathSettings ReadDataPathSettings(FileFactoryClass* factory) {
    DataPathSettings settings;
    FileClass* file = factory != nullptr ? factory->GetFile("paths.ini") : nullptr;
    if (file == nullptr) {
        return settings;
    }
    IniFile document;
    document.file = file;
    file->Open(FileClass::ReadOnly);
    if (file->IsOpen()) {
        document.Load();
        settings.fileBase = document.GetString("FileBase", "Ironveil");
        settings.fileFds = document.GetString("FileFDS", "FDS");
        settings.useProgramFolder = IsTrueSetting(document.GetString("UseIvoFolder", nullptr));
        settings.fromFile = true;
        file->Close();
    }
    document.Clear();
    factory->ReturnFile(file);
    return settings;
}

void ComposeDataPaths(const DataPathSettings& settings, const DataPathBases& bases, StringClass& gameFilesPath,
                      StringClass& storeBasePath) {
    // An installed program's folder is no place for data; a paths.ini that
    // asks for it still has it.
    const bool useProgramFolder = settings.useProgramFolder && (settings.fromFile || bases.programFolderHoldsData);
    const bool useDocuments = !useProgramFolder && bases.documentsFolder != nullptr;
    const bool useApplicationData = !useProgramFolder && bases.applicationDataFolder != nullptr;
    gameFilesPath =
        JoinFolders(useDocuments ? bases.documentsFolder : bases.programFolder, settings.fileBase, settings.fileFds);
    storeBasePath = JoinFolders(useApplicationData ? bases.applicationDataFolder : bases.programFolder,
                                settings.fileBase, settings.fileBase);
}

void DiscoverDataPaths() {
    DataPathsDiscovered = true;
    const DataPathSettings settings = ReadDataPathSettings(ActiveFileFactory);
    const std::string programFolder = platform::GetProgramFolder();
    std::string documentsFolder;
    std::string applicationDataFolder;
    DataPathBases bases;
    bases.programFolder = programFolder.c_str();
    bases.programFolderHoldsData = settings.fromFile || platform::MayHoldDataFolders(programFolder);
    if (platform::GetDocumentsFolder(documentsFolder)) {
        bases.documentsFolder = documentsFolder.c_str();
    }
    if (platform::GetApplicationDataFolder(applicationDataFolder)) {
        bases.applicationDataFolder = applicationDataFolder.c_str();
    }
    ComposeDataPaths(settings, bases, GameFilesPath, StoreBasePath);
}
