#include <cstring>

#include "config/DataPaths.h"
#include "file/ChunkWriter.h"
#include "file/SimpleFileFactoryClass.h"
#include "foundation/StringClass.h"
#include "package/Package.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"
#include "quillbox/ConvertMixFile.h"

namespace {

const char* FindLast(const char* text, int length, char wanted) {
    const char* found = nullptr;
    for (const char* at = text; at < text + length; ++at) {
        if (*at == wanted) {
            found = at;
        }
    }
    return found;
}

// The archive's name without its extension and folders. The dot is searched
// first and over the whole text, so a dot in a folder name cuts there:
// x.y/archive gives x.
StringClass PackageNameOf(const char* mixFile) {
    const char* dot = std::strrchr(mixFile, '.');
    const int length = dot != nullptr ? static_cast<int>(dot - mixFile) : static_cast<int>(std::strlen(mixFile));
    const char* separator = FindLast(mixFile, length, '/');
    if (separator == nullptr) {
        separator = FindLast(mixFile, length, '\\');
    }
    const char* start = separator != nullptr ? separator + 1 : mixFile;
    return FormatString("%.*s", static_cast<int>(mixFile + length - start), start);
}

bool FitsLengthField(const char* text) {
    return std::strlen(text) <= static_cast<size_t>(ChunkWriter::MaxStringLength);
}

}  // namespace

int RunConvert(const char* mixFile, const char* version, const char* authorName) {
    // The package-info file stores each text with a 16-bit length; a longer
    // one would come back cut, so nothing is converted.
    if (!FitsLengthField(version) || !FitsLengthField(authorName)) {
        PrintError("The version and the author name may each hold at most 65535 bytes.\r\n");
        return 1;
    }
    // ".mix" or "maps/" name no package; install would refuse one named "".
    const StringClass packageName = PackageNameOf(mixFile);
    if (packageName.IsEmpty()) {
        PrintError("The archive name '%s' gives no package name.\r\n", mixFile);
        return 1;
    }
    SimpleFileFactoryClass factory;
    if (!DataPathsDiscovered) {
        DiscoverDataPaths();
    }
    // A relative archive name is looked up in the game's file folder; an
    // absolute one is used as it stands. The folder is one, whatever its
    // name holds.
    factory.SetSearchFolder(GameFilesPath);
    Package package(packageName, version, authorName);
    const ConvertResult result = ConvertMixFile(package, mixFile, factory);
    return result == ConvertResult::Converted ? 0 : 1;
}
