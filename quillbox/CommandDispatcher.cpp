#include "quillbox/CommandDispatcher.h"

#include "foundation/StringClass.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"

namespace {

// Exit codes: a command that did what was asked, or found the state asked
// for already there, ends with 0; anything that did not happen with 1.
constexpr int Failed = 1;

struct CommandEntry {
    const char* word;
    int smallestArgumentCount;  // program name included
    const char* usage;
    bool usesIndex;  // the package index must be readable before it runs
    int (*run)(char** argv);
};

const CommandEntry Commands[] = {
    {"convert", 5, "Usage: convert <mixFile> <version> <authorName>\r\n", false,
     [](char** argv) { return RunConvert(argv[2], argv[3], argv[4]); }},
    {"list", 2, "", true, [](char**) { return RunList(); }},
    {"install", 3, "Usage: install <packageName>\r\n", true, [](char** argv) { return RunInstall(argv[2]); }},
    {"uninstall", 3, "Usage: uninstall <packageName>\r\n", true, [](char** argv) { return RunUninstall(argv[2]); }},
    {"download", 4, "Usage: download <packageName> <repositoryUrl>\r\n", true,
     [](char** argv) { return RunDownload(argv[2], argv[3]); }},
    {"trust", 4, "Usage: trust <repositoryUrl> <publicKeyFile>\r\n", false,
     [](char** argv) { return RunTrust(argv[2], argv[3]); }},
    {"verify", 2, "", true, [](char**) { return RunVerify(); }},
};

void PrintHelp() {
    PrintError("You specified an invalid or unknown command. Possible commands are:\r\n");
    PrintError("\r\n");
    PrintError("list\r\n");
    PrintError("convert <mixFile> <version> <authorName>\r\n");
    PrintError("install <packageName>\r\n");
    PrintError("uninstall <packageName>\r\n");
    PrintError("download <packageName> <repositoryUrl>\r\n");
    PrintError("trust <repositoryUrl> <publicKeyFile>\r\n");
    PrintError("verify\r\n");
    PrintError("\r\n");
    PrintError("See %s for detailed documentation.\r\n", "http://quillbox.example/r/quillbox");
    PrintError("\r\n");
}

}  // namespace

int DispatchCommand(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp();
        return Failed;
    }
    for (const CommandEntry& command : Commands) {
        if (!EqualsIgnoringAsciiCase(argv[1], command.word)) {
            continue;
        }
        if (argc < command.smallestArgumentCount) {
            PrintError("%s", command.usage);
            return Failed;
        }
        if (command.usesIndex && !OpenPackageIndex()) {
            return Failed;
        }
        return command.run(argv);
    }
    PrintHelp();
    return Failed;
}
