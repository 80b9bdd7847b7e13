// A MIX1 archive from a game installation: its index and name table read by
// the archive factory, members found by name and read through their windows,
// and the anti-cheat digest taken over the same file.
#include <string>

#include "FuzzScratch.h"
#include "FuzzTargets.h"
#include "file/FileClass.h"
#include "file/MixFileFactoryClass.h"
#include "file/SimpleFileFactoryClass.h"
#include "veriprint/FileDigest.h"

namespace {

// Enough members to reach every part of a small archive without letting one
// input with thousands of names slow the search to a crawl.
constexpr int MembersRead = 64;

void ReadMember(MixFileFactoryClass& archive, const char* name) {
    FileClass* member = archive.GetFile(name);
    if (member == nullptr) {
        return;
    }
    if (member->Open(FileClass::ReadOnly)) {
        const int size = member->Size();
        char piece[4096];
        int64_t total = 0;
        for (int count = member->Read(piece, sizeof piece); count > 0; count = member->Read(piece, sizeof piece)) {
            total += count;
        }
        FUZZ_CHECK(total <= size);
        member->Seek(0, FileClass::FromEnd);
        member->Seek(-1, FileClass::FromCurrent);
        member->Read(piece, 2);
        member->Close();
    }
    archive.ReturnFile(member);
}

}  // namespace

int FuzzMixArchive(const uint8_t* data, size_t size) {
    if (size > FuzzMaxInputSize || FuzzScratchFolder().empty()) {
        return 0;
    }
    const std::string path = FuzzScratchFolder() + "/Always.dat";
    if (!WriteScratchFile(path, data, size)) {
        return 0;
    }
    SimpleFileFactoryClass folder;
    MixFileFactoryClass archive(path.c_str(), &folder);
    DynamicVectorClass<StringClass> names;
    const bool whole = archive.GetFileNames(names);
    FUZZ_CHECK(archive.IsValid || (!whole && names.Count() == 0));
    for (int index = 0; index < names.Count() && index < MembersRead; ++index) {
        ReadMember(archive, names[index]);
    }
    ReadMember(archive, "a.ini");
    ReadMember(archive, "");

    uint8_t digest[Md5::DigestSize];
    FUZZ_CHECK(DigestFile(folder, path.c_str(), digest));
    return 0;
}
