#include "package/PackageFileInfo.h"

#include <cstring>

PackageFileInfo::PackageFileInfo(uint32_t crc, int32_t size, const char* name) : crc(crc), size(size) {
    if (name == nullptr || name[0] == 0) {
        return;
    }
    // Only ASCII letters change: names are in the game's single-byte set.
    const size_t length = std::strlen(name);
    char* lowered = this->name.GetBuffer(static_cast<int>(length + 1));
    for (size_t index = 0; index < length; ++index) {
        const char character = name[index];
        lowered[index] = character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
    }
    lowered[length] = 0;
}
