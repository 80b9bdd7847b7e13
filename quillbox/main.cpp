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
    const int exitCode = DispatchCommand(argc, argv);
    return FinishPackageStore() ? exitCode : 1;
}
