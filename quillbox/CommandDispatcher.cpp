#include "quillbox/CommandDispatcher.h"

#include <initializer_list>

#include "foundation/StringClass.h"
#include "foundation/Version.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"

namespace {

// Exit codes: a command that did what was asked, or found the state asked
// for already there, ends with 0; anything that did not happen with 1.
constexpr int Failed = 1;

// What a command needs of the package index before it runs: nothing, to read
// it, or to change it (which takes the store's lock).
enum class IndexUse { None, Read, Change };

struct CommandEntry {
    const char* word;
    int smallestArgumentCount;  // program name included
    const char* usage;
    IndexUse index;
    int (*run)(char** argv);
};

const CommandEntry Commands[] = {
    {"convert", 5, "Usage: convert <mixFile> <version> <authorName>\r\n", IndexUse::None,
     [](char** argv) { return RunConvert(argv[2], argv[3], argv[4]); }},
    {"list", 2, "", IndexUse::Read, [](char**) { return RunList(); }},
    {"install", 3, "Usage: install <packageName>\r\n", IndexUse::Change,
     [](char** argv) { return RunInstall(argv[2]); }},
    {"uninstall", 3, "Usage: uninstall <packageName>\r\n", IndexUse::Change,
     [](char** argv) { return RunUninstall(argv[2]); }},
    {"download", 4, "Usage: download <packageName> <repositoryUrl>\r\n", IndexUse::Change,
     [](char** argv) { return RunDownload(argv[2], argv[3]); }},
    {"trust", 4, "Usage: trust <repositoryUrl> <publicKeyFile>\r\n", IndexUse::None,
     [](char** argv) { return RunTrust(argv[2], argv[3]); }},
    {"verify", 2, "", IndexUse::Change, [](char**) { return RunVerify(); }},
};

// The help text goes to standard error after a word that is no command, and
// to standard output when it was asked for, which is no invalid command.
void PrintHelp(void (*print)(const char* format, ...), bool asked = false) {
    print(asked ? "Possible commands are:\r\n"
                : "You specified an invalid or unknown command. Possible commands are:\r\n");
    print("\r\n");
    print("list\r\n");
    print("convert <mixFile> <version> <authorName>\r\n");
    print("install <packageName>\r\n");
    print("uninstall <packageName>\r\n");
    print("download <packageName> <repositoryUrl>\r\n");
    print("trust <repositoryUrl> <publicKeyFile>\r\n");
    print("verify\r\n");
    print("\r\n");
    print("See %s for detailed documentation.\r\n", "http://quillbox.example/r/quillbox");
    print("\r\n");
}

// The words every command-line tool answers: they print and touch no store.
bool RunConvention(const char* word) {
    for (const char* help : {"help", "-h", "--help"}) {
        if (EqualsIgnoringAsciiCase(word, help)) {
            PrintHelp(PrintOut, true);
            return true;
        }
    }
    for (const char* version : {"version", "--version"}) {
        if (EqualsIgnoringAsciiCase(word, version)) {
            PrintOut("Quillbox %s\r\n", ProgramVersion);
            return true;
        }
    }
    return false;
}

}  // namespace

int DispatchCommand(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp(PrintError);
        return Failed;
    }
    if (RunConvention(argv[1])) {
        return 0;
    }
    for (const CommandEntry& command : Commands) {
        if (!EqualsIgnoringAsciiCase(argv[1], command.word)) {
            continue;
        }
        if (argc < command.smallestArgumentCount) {
            PrintError("%s", command.usage);
            return Failed;
        }
        if (command.index != IndexUse::None && !OpenPackageIndex(command.index == IndexUse::Change)) {
            return Failed;
        }
        return command.run(argv);
    }
    PrintHelp(PrintError);
    return Failed;
}
