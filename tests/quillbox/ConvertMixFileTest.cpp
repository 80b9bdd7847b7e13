#include <gtest/gtest.h>

#include <string>

#include "file/SimpleFileFactoryClass.h"
#include "package/DirectoryStructure.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "quillbox/ConvertMixFile.h"
#include "support/MixWriter.h"
#include "support/StoreCause.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MixWriter;
using testsupport::TempDir;

// Serves the archive while its index and name table are read, then loses it,
// as when the archive is removed while it is being converted.
class VanishingArchiveFactory : public SimpleFileFactoryClass {
public:
    FileClass* GetFile(const char* name) override {
        return SimpleFileFactoryClass::GetFile(++Calls <= 2 ? name : "gone.mix");
    }

    int Calls = 0;
};

TEST(ConvertMixFileTest, MemberThatCannotBeOpenedAbandonsTheConversion) {
    TempDir folder;
    testsupport::WriteFile(folder / "games/Lost.mix", MixWriter().Add("a.txt", "alpha").Build().bytes);
    VanishingArchiveFactory factory;
    factory.SetSearchPath((folder / "games/").c_str());
    FlatFilesystem store((folder / "store").c_str());
    DirectoryStructure layout;
    Package package("Lost", "1", "me");

    testing::internal::CaptureStderr();
    const ConvertResult result = ConvertMixFile(package, "Lost.mix", factory, store, layout);
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_EQ(result, ConvertResult::Abandoned);
    // The line under the message names the file the factory gave.
    EXPECT_EQ(errors.rfind("Failed to open input file 'Lost.mix'.\r\nCould not open '" +
                               testsupport::NativeSpelling(folder / "games/gone.mix") + "': ",
                           0),
              0u)
        << errors;
    EXPECT_EQ(factory.Calls, 4);
    EXPECT_EQ(package.GetFileCount(), 0);
    // Only the lock that the conversion took is there.
    EXPECT_EQ(testsupport::ListFolder(folder / "store"), std::vector<std::string>{".packages.lock"});
}

}  // namespace
