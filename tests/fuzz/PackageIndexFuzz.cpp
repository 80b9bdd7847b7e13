// An index of installed packages as an older version, a crash or a damaged
// disk may have left it, loaded by the package manager from a store folder.
// Whatever it yields must be saved whole and load back the same.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzScratch.h"
#include "FuzzTargets.h"
#include "SamePackage.h"
#include "foundation/HashName.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/PackageManager.h"

namespace {

// The number of top-level chunks when their headers lead exactly to the end
// of the bytes; -1 when they do not. Each such chunk is one package, however
// damaged its insides are.
int WholeTopLevelChunks(const uint8_t* data, size_t size) {
    int count = 0;
    size_t at = 0;
    while (at + 8 <= size) {
        const uint32_t length =
            (data[at + 4] | data[at + 5] << 8 | data[at + 6] << 16 | static_cast<uint32_t>(data[at + 7]) << 24) &
            0x7FFFFFFFu;
        at += 8 + static_cast<size_t>(length);
        ++count;
    }
    return at == size ? count : -1;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

int FuzzPackageIndex(const uint8_t* data, size_t size) {
    if (size > FuzzMaxInputSize) {
        return 0;
    }
    const std::string& store = FuzzScratchFolder();
    if (store.empty() || !WriteScratchFile(store + "/packages.dat", data, size)) {
        return 0;
    }
    FlatFilesystem filesystem(store.c_str());
    DirectoryStructure layout;
    PackageManager manager(filesystem, layout);
    manager.Load();
    const int wholeChunks = WholeTopLevelChunks(data, size);
    FUZZ_CHECK(wholeChunks < 0 || manager.GetPackageCount() == wholeChunks);
    for (int index = 0; index < manager.GetPackageCount(); ++index) {
        const Package* package = manager.GetPackage(index);
        FUZZ_CHECK(manager.FindPackage(HashName(package->GetName())) != nullptr);
    }
    FUZZ_CHECK(manager.Save());
    // An index that is saved as other bytes than it held was kept whole
    // first. The copy goes again, so that every input meets a store without
    // one.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string copy = store + "/packages.dat.damaged";
    FUZZ_CHECK(ReadBytes(store + "/packages.dat") == input || ReadBytes(copy) == input);
    std::error_code ignored;
    std::filesystem::remove(copy, ignored);

    PackageManager reloaded(filesystem, layout);
    reloaded.Load();
    FUZZ_CHECK(reloaded.GetPackageCount() == manager.GetPackageCount());
    for (int index = 0; index < manager.GetPackageCount(); ++index) {
        FUZZ_CHECK(SamePackage(*manager.GetPackage(index), *reloaded.GetPackage(index)));
    }
    return 0;
}
