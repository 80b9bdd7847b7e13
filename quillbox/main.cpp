#include "package/PackageManager.h"
#include "platform/Console.h"
#include "quillbox/CommandDispatcher.h"
#include "quillbox/Commands.h"

int main(int argc, char** argv) {
    platform::PrepareConsole();
    RegisterDataFactories();
    PackageManager::SetWaitNotice(AnnounceWaitForStore);
    const int exitCode = DispatchCommand(argc, argv);
    FinishPackageStore();
    return exitCode;
}
