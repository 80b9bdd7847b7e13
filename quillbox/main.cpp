#include "package/PackageManager.h"
#include "platform/Console.h"
#include "quillbox/CommandDispatcher.h"
#include "quillbox/Commands.h"
#include "quillbox/Console.h"

int main(int argc, char** argv) {
    platform::PrepareConsole();
    BufferOut();
    RegisterDataFactories();
    PackageManager::SetWaitNotice(AnnounceWaitForStore);
    PackageManager::SetDamagedIndexNotice(AnnounceDamagedIndex);
    int exitCode = DispatchCommand(argc, argv);
    if (!FinishPackageStore()) {
        exitCode = 1;
    }
    if (exitCode != 0) {
        TellStoreFailure();
    }
    return exitCode;
}
