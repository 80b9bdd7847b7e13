#include "foundation/HashName.h"

#include "foundation/Crc32.h"

uint32_t HashName(const char* text) {
    Crc32 crc;
    if (text == nullptr) {
        return crc.Value();
    }
    // Names are upper-cased a block at a time so the shared CRC engine does the
    // hashing; only the ASCII letters change, whatever the locale.
    char block[64];
    size_t used = 0;
    for (const char* at = text; *at != 0; ++at) {
        const char character = *at;
        block[used++] = (character >= 'a' && character <= 'z') ? static_cast<char>(character - 'a' + 'A') : character;
        if (used == sizeof(block)) {
            crc.Update(block, used);
            used = 0;
        }
    }
    crc.Update(block, used);
    return crc.Value();
}
