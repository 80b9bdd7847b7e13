// A repository's "manifest.txt", as a hostile server or mirror may send it:
// read strictly, and when it reads, what it says holds together.
#include "FuzzTargets.h"
#include "download/RepositoryManifest.h"
#include "foundation/StringClass.h"

int FuzzManifest(const uint8_t* data, size_t size) {
    if (size > FuzzMaxInputSize) {
        return 0;
    }
    RepositoryManifest manifest;
    StringClass problem;
    if (!manifest.Read(reinterpret_cast<const char*>(data), size, problem)) {
        FUZZ_CHECK(!problem.IsEmpty());
        return 0;
    }
    FUZZ_CHECK(manifest.GetSerial() >= 1);
    FUZZ_CHECK(manifest.GetFileCount() <= size / 67);
    return 0;
}
