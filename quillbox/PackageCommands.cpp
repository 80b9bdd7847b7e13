#include <cstdint>

#include "file/ChunkReader.h"
#include "file/FileClass.h"
#include "foundation/HashName.h"
#include "foundation/StringClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageManager.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"

namespace {

StringClass PackageInfoPath(uint32_t id) { return FormatString("packages/%08x.kpi", static_cast<unsigned>(id)); }

}  // namespace

int RunList() {
    PackageManager& manager = PackageManager::GetInstance();
    if (manager.GetPackageCount() == 0) {
        PrintOut("No packages are installed.\r\n");
        return 0;
    }
    PrintOut("The following packages are installed:\r\n");
    for (int index = 0; index < manager.GetPackageCount(); ++index) {
        const Package& package = *manager.GetPackage(index);
        PrintOut("%s version %s by %s\r\n", package.GetName().Peek(), package.GetVersion().Peek(),
                 package.GetAuthor().Peek());
    }
    return 0;
}

int RunInstall(const char* packageName) {
    const uint32_t id = HashName(packageName);
    PackageManager& manager = PackageManager::GetInstance();
    if (manager.FindPackage(id) != nullptr) {
        PrintError("This package has already been installed.\r\n");
        return 0;
    }
    const StringClass path = PackageInfoPath(id);
    FlatFilesystem& store = GetStoreFilesystem();
    FileClass* file = store.GetFile(path);
    file->Open(FileClass::ReadOnly);
    if (!file->IsOpen()) {
        PrintError("Could not open file '%s'.\r\n", path.Peek());
        store.ReturnFile(file);
        return 0;
    }
    ChunkReader reader(file);
    manager.AddPackage(reader);
    file->Close();
    PrintOut("Package '%s' is now installed.\r\n", packageName);
    store.ReturnFile(file);
    return 0;
}

int RunUninstall(const char* packageName) {
    PackageManager& manager = PackageManager::GetInstance();
    Package* package = manager.FindPackage(HashName(packageName));
    if (package == nullptr) {
        PrintError("Could not find package to uninstall.\r\n");
        return 0;
    }
    manager.RemovePackage(package);
    GetStoreFilesystem().DeleteFile(PackageInfoPath(HashName(package->GetName())));
    delete package;
    manager.RemoveUnusedFiles();
    PrintOut("Package '%s' is now uninstalled.\r\n", packageName);
    return 0;
}

void AnnounceWaitForStore() { PrintError("Waiting for another Quillbox using the store...\r\n"); }

void FinishPackageStore() {
    if (PackageManager::ReleaseInstance()) {
        return;
    }
    const StringClass path = GetStoreFilesystem().GetFullPath(GetDirectoryStructure().GetDatabasePath());
    PrintError("Could not save the package index '%s'.\r\n", path.Peek());
}
