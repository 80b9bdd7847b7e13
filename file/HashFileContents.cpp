#include "file/HashFileContents.h"

#include "file/FileClass.h"
#include "foundation/Crc32.h"

namespace {

constexpr int PieceSize = 0x4000;

// One buffer for the whole process: only one thread hashes at a time.
unsigned char Scratch[PieceSize];

}  // namespace

uint32_t HashFileContents(FileClass* file) {
    Crc32 crc;
    if (file == nullptr) {
        return crc.Value();
    }
    for (;;) {
        const int got = file->Read(Scratch, PieceSize);
        if (got <= 0) {
            break;
        }
        crc.Update(Scratch, static_cast<size_t>(got));
    }
    return crc.Value();
}
