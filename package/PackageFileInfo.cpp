#include "package/PackageFileInfo.h"

#include <cstring>

PackageFileInfo::PackageFileInfo(uint32_t crc, int32_t size, const char* name) : crc(crc), size(size) {
    if (name == nullptr || name[0] == 0) {
        return;
    }
    const size_t length = std::strlen(name);
    char* lowered = this->name.GetBuffer(static_cast<int>(length + 1));
    for (size_t index = 0; index < length; ++index) {
        lowered[index] = AsciiLower(name[index]);
    }
    lowered[length] = 0;
}
