#include <cstdio>
#include <cstring>

#include "file/SimpleFileFactoryClass.h"
#include "foundation/Version.h"
#include "platform/Console.h"
#include "veriprint/FileDigest.h"

namespace {

void PrintUsage() {
    std::printf("Veriprint tool to generate a hash of a file for the anticheat.ini file\n");
    std::printf("usage:\n");
    std::printf("Veriprint filename\n");
    std::printf("filename is the name of the file to hash\n");
}

}  // namespace

int main(int argc, char** argv) {
    platform::PrepareConsole();
    if (argc < 2) {
        PrintUsage();
        return 1;
    }
    // File names are compared exactly: a file called --help is still hashed
    // as ./--help.
    if (std::strcmp(argv[1], "--help") == 0) {
        PrintUsage();
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("Veriprint %s\n", ProgramVersion);
        return 0;
    }
    SimpleFileFactoryClass factory;
    factory.SetSearchPath(CurrentDirectorySearchPath());
    uint8_t digest[Md5::DigestSize];
    if (!DigestFile(factory, argv[1], digest)) {
        std::printf("Failed to open file '%s'.\n", argv[1]);
        return 1;
    }
    char hex[2 * Md5::DigestSize + 1];
    Md5::ToHex(digest, hex);
    std::printf("%s=%s\n", hex, PrintedFileName(argv[1]));
    return 0;
}
