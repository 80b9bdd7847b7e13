#include <memory>

#include "file/FileFactoryListClass.h"
#include "file/MixFileFactoryClass.h"
#include "file/SimpleFileFactoryClass.h"
#include "quillbox/Commands.h"

namespace {

// The game's main archives, in the order in which they are searched.
const char* const ArchiveNames[] = {"Always3.dat", "Always2.dat", "Always.dbs", "Always.dat"};

// The archive factories live until the process ends; they are kept here so
// that they are destroyed at exit rather than leaked.
std::unique_ptr<MixFileFactoryClass> ArchiveFactories[std::size(ArchiveNames)];

}  // namespace

void RegisterDataFactories() {
    DataFolderFactory.SetSearchPath("DATA\\");
    DataFolderFactory.AddSearchFolder("DATA\\SAVE\\");
    DataFolderFactory.AddSearchFolder("DATA\\CONFIG\\");
    GlobalFactoryList.AddFactory(&DataFolderFactory, "");
    for (size_t index = 0; index < std::size(ArchiveNames); ++index) {
        // A missing archive gives a factory that finds nothing; that is normal.
        ArchiveFactories[index] = std::make_unique<MixFileFactoryClass>(ArchiveNames[index], &DataFolderFactory);
        GlobalFactoryList.AddFactory(ArchiveFactories[index].get(), ArchiveNames[index]);
    }
    ActiveFileFactory = &GlobalFactoryList;
}
