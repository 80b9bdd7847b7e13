#include <cstdint>

#include "file/FileClass.h"
#include "foundation/HashName.h"
#include "foundation/StringClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/PackageManager.h"
#include "package/StoreFailure.h"
#include "platform/FileSystem.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"

namespace {

// A record's texts come from the repository: a control byte would reach the
// terminal as a command (an escape sequence, a carriage return that hides
// the line), so it is shown as \xNN. Every other byte is kept as it is.
StringClass FullIndexPath() {
    return QuotedPath(GetStoreFilesystem().GetFullPath(GetDirectoryStructure().GetDatabasePath()));
}

StringClass Printable(const StringClass& text) {
    StringClass shown;
    for (const char* at = text.Peek(); *at != 0; ++at) {
        const unsigned char byte = static_cast<unsigned char>(*at);
        if (byte < 0x20 || byte == 0x7F) {
            shown += FormatString("\\x%02X", byte);
        } else {
            shown += *at;
        }
    }
    return shown;
}

}  // namespace

namespace {

void PrintPackages(const PackageManager& manager) {
    if (manager.GetPackageCount() == 0) {
        PrintOut("No packages are installed.\r\n");
        return;
    }
    PrintOut("The following packages are installed:\r\n");
    for (int index = 0; index < manager.GetPackageCount(); ++index) {
        const Package& package = *manager.GetPackage(index);
        PrintOut("%s version %s by %s\r\n", Printable(package.GetName()).Peek(), Printable(package.GetVersion()).Peek(),
                 Printable(package.GetAuthor()).Peek());
    }
}

}  // namespace

// list holds no lock, so it writes nothing: a damaged index is kept and
// replaced by the next command that changes the store.
int RunList() {
    const PackageManager& manager = PackageManager::GetReaderInstance();
    PrintPackages(manager);
    if (manager.HasDamagedIndex()) {
        PrintError(
            "The package index %s held data that could not be read; the next command that changes the store "
            "keeps a copy of it.\r\n",
            FullIndexPath().Peek());
    }
    return 0;
}

namespace {

// A package found by the identifier of the name asked for but carrying
// another name is another package: nothing is done to it in this name.
bool IsHeldByAnother(const Package& found, const char* packageName) {
    if (found.HasName(packageName)) {
        return false;
    }
    PrintError("%s\r\n", DescribeHeldIdentifier(packageName, found.GetName()).Peek());
    return true;
}

// A package-info file that is there but cannot be opened is a failure of the
// store, whose cause the entry point prints; a missing one is not.
void NoteUnopenedInfoFile(FlatFilesystem& store, const char* path, const FileClass& file) {
    const int error = platform::LastErrorNumber();
    if (store.FileExists(path)) {
        platform::SetLastErrorNumber(error);
        NoteStoreFailure(FormatString("open %s", QuotedPath(file.GetFileName()).Peek()));
    }
}

}  // namespace

// The package is registered only when its record names it, and reported as
// installed only once the index holding it is on disk (a failed save is
// reported when the store is finished).
int RunInstall(const char* packageName) {
    const uint32_t id = HashName(packageName);
    PackageManager& manager = PackageManager::GetInstance();
    if (const Package* found = manager.FindPackage(id)) {
        if (IsHeldByAnother(*found, packageName)) {
            return 1;
        }
        PrintError("This package has already been installed.\r\n");
        return 0;
    }
    const StringClass path = GetDirectoryStructure().GetPackageInfoPath(DirectoryStructure::GetPackageInfoFileName(id));
    FlatFilesystem& store = GetStoreFilesystem();
    FileClass* file = store.GetFile(path);
    file->Open(FileClass::ReadOnly);
    if (!file->IsOpen()) {
        NoteUnopenedInfoFile(store, path, *file);
        PrintError("Could not open file '%s'.\r\n", path.Peek());
        store.ReturnFile(file);
        return 1;
    }
    StringClass recordName;
    const Package* package = manager.AddPackageInfo(*file, packageName, recordName);
    file->Close();
    store.ReturnFile(file);
    if (package == nullptr) {
        if (!recordName.IsEmpty() && !EqualsIgnoringAsciiCase(recordName, packageName) && HashName(recordName) == id) {
            PrintError("%s\r\n", DescribeHeldIdentifier(packageName, recordName).Peek());
        } else {
            PrintError("The package-info file '%s' does not describe package '%s'.\r\n", path.Peek(), packageName);
        }
        return 1;
    }
    if (!manager.Save()) {
        return 1;
    }
    PrintOut("Package '%s' is now installed.\r\n", packageName);
    return 0;
}

// Nothing is deleted before the index without the package is on disk: a
// failed save leaves the store exactly as it was. Files that cannot be
// deleted durably stay for the next cleanup; the package is uninstalled all
// the same, and the command fails for the files. A package-info file that cannot be read may list any content
// file, so then none is deleted, and the command says which file it was.
int RunUninstall(const char* packageName) {
    PackageManager& manager = PackageManager::GetInstance();
    Package* package = manager.FindPackage(HashName(packageName));
    if (package == nullptr) {
        PrintError("Could not find package to uninstall.\r\n");
        return 0;
    }
    if (IsHeldByAnother(*package, packageName)) {
        return 1;
    }
    manager.RemovePackage(package);
    const StringClass name = package->GetName();
    delete package;
    if (!manager.Save()) {
        return 1;
    }
    StringClass unreadable;
    const bool cleaned = manager.RemovePackageFiles(name, unreadable);
    PrintOut("Package '%s' is now uninstalled.\r\n", packageName);
    if (cleaned) {
        return 0;
    }
    if (!unreadable.IsEmpty()) {
        PrintError("Could not read '%s', so no content file was deleted.\r\n", unreadable.Peek());
    } else {
        PrintError(
            "Could not durably delete the content files that no package uses any more; the next uninstall "
            "tries again.\r\n");
    }
    return 1;
}

void AnnounceWaitForStore() { PrintError("Waiting for another Quillbox using the store...\r\n"); }

void AnnounceDamagedIndex(const char* indexPath, const char* copyPath) {
    FlatFilesystem& store = GetStoreFilesystem();
    PrintError("The package index %s held data that could not be read; a copy of it was kept as %s.\r\n",
               QuotedPath(store.GetFullPath(indexPath)).Peek(), QuotedPath(store.GetFullPath(copyPath)).Peek());
}

bool OpenPackageIndex(bool toChange) {
    const PackageManager& manager = toChange ? PackageManager::GetInstance() : PackageManager::GetReaderInstance();
    if (!manager.CouldUseStore()) {
        PrintError("Could not use the package store '%s'.\r\n",
                   platform::NativePathText(GetStoreFilesystem().GetRoot()).c_str());
        return false;
    }
    if (manager.CouldReadIndex()) {
        return true;
    }
    PrintError("Could not read the package index %s.\r\n", FullIndexPath().Peek());
    return false;
}

bool FinishPackageStore() {
    if (PackageManager::ReleaseInstance()) {
        return true;
    }
    PrintError("Could not save the package index %s.\r\n", FullIndexPath().Peek());
    return false;
}

void TellStoreFailure() {
    const StringClass cause = DescribeStoreFailure();
    if (!cause.IsEmpty()) {
        PrintError("%s\r\n", cause.Peek());
    }
}
