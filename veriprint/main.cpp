#include <cstdio>

#include "file/SimpleFileFactoryClass.h"
#include "platform/Console.h"
#include "veriprint/FileDigest.h"

int main(int argc, char** argv) {
    platform::PrepareConsole();
    if (argc < 2) {
        std::printf("Veriprint tool to generate a hash of a file for the anticheat.ini file\n");
        std::printf("usage:\n");
        std::printf("Veriprint filename\n");
        std::printf("filename is the name of the file to hash\n");
        return 1;
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
