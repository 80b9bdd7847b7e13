#pragma once

#include "foundation/StringClass.h"

class FileFactoryClass;

// Set by DiscoverDataPaths, once per process, and read-only afterwards.
extern bool DataPathsDiscovered;
// The game's file folder, ending in a backslash.
extern StringClass GameFilesPath;
// The folder that holds the store folder (mofs), ending in a backslash.
extern StringClass StoreBasePath;

// Decides GameFilesPath and StoreBasePath from "paths.ini", looked up through
// ActiveFileFactory, and from the program's and the user's folders.
void DiscoverDataPaths();

// What "paths.ini" decides; the defaults are those of a missing file.
struct DataPathSettings {
    StringClass fileBase = "Ironveil";
    StringClass fileFds = "FDS";
    bool useProgramFolder = true;
    bool fromFile = false;  // a paths.ini was read
};

// Reads "paths.ini" through the factory (which may be null: no file).
DataPathSettings ReadDataPathSettings(FileFactoryClass* factory);

// The truth rule of UseIvoFolder: a leading lower-case y or t, or a decimal
// number other than 0. Null and empty are false.
bool IsTrueSetting(const char* value);

// The folders the two paths are based on; a shell folder whose lookup
// failed is null, and the program folder is used in its place.
struct DataPathBases {
    const char* programFolder = "";
    // False when the program folder is a system program folder or cannot be
    // written: without a paths.ini the user's folders are then the bases, as
    // a paths.ini with its defaults gives them.
    bool programFolderHoldsData = true;
    const char* documentsFolder = nullptr;
    const char* applicationDataFolder = nullptr;
};

void ComposeDataPaths(const DataPathSettings& settings, const DataPathBases& bases, StringClass& gameFilesPath,
                      StringClass& storeBasePath);
