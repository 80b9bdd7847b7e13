#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/ChunkReader.h"
#include "file/ChunkWriter.h"
#include "file/MemoryFile.h"
#include "package/Package.h"
#include "support/RecordBytes.h"

namespace {

using testsupport::Chunk;
using testsupport::Le32;
using testsupport::Text;

const std::string WorkedExample = std::string(
    "\x41\x54\x41\x44\x0F\x00\x00\x00"
    "\x02\x00\x70\x6B\x01\x00\x31\x02\x00\x6D\x65\x02\x00\x00\x00"
    "\x45\x4C\x49\x46\x0F\x00\x00\x00"
    "\xC6\xC7\x84\xA6\x0A\x00\x00\x00\x05\x00\x61\x2E\x64\x61\x74",
    46);

std::string SavedBytes(const Package& package) {
    MemoryFile file;
    ChunkWriter writer(&file);
    EXPECT_TRUE(package.Save(writer));
    std::string bytes(static_cast<size_t>(file.Size()), '\0');
    file.Seek(0, FileClass::FromStart);
    file.Read(bytes.data(), file.Size());
    return bytes;
}

// A memory file holding the bytes, rewound.
struct FilledFile {
    explicit FilledFile(const std::string& bytes) {
        file.Write(bytes.data(), static_cast<int>(bytes.size()));
        file.Seek(0, FileClass::FromStart);
    }
    MemoryFile file;
};

// The package read from bytes at the top level of a stream.
struct LoadedPackage : FilledFile {
    explicit LoadedPackage(const std::string& bytes) : FilledFile(bytes) {}
    ChunkReader reader{&file};
    Package package{reader};
};

TEST(PackageTest, WorkedExampleIsWrittenByteForByte) {
    Package package("pk", "1", "me");
    package.AddFile(PackageFileInfo(0xA684C7C6, 10, "a.dat"));
    EXPECT_EQ(SavedBytes(package), WorkedExample);
}

TEST(PackageTest, RecordWithoutFilesIsOneDataChunk) {
    Package package("pk", "1", "me");
    EXPECT_EQ(SavedBytes(package), WorkedExample.substr(0, 23));
}

TEST(PackageTest, WorkedExampleReadsBack) {
    LoadedPackage loaded(WorkedExample);
    EXPECT_STREQ(loaded.package.GetName(), "pk");
    EXPECT_STREQ(loaded.package.GetVersion(), "1");
    EXPECT_STREQ(loaded.package.GetAuthor(), "me");
    EXPECT_EQ(loaded.package.GetRevision(), 2);
    ASSERT_EQ(loaded.package.GetFileCount(), 1);
    EXPECT_EQ(loaded.package.GetFileInfo(0).crc, 0xA684C7C6u);
    EXPECT_EQ(loaded.package.GetFileInfo(0).size, 10);
    EXPECT_STREQ(loaded.package.GetFileInfo(0).name, "a.dat");
}

TEST(PackageTest, RoundTripKeepsEveryFieldAndTheFileOrderWithNamesInLowerCase) {
    Package original("Maps Pack", "2.0 beta", "Some Author");
    original.AddFile(PackageFileInfo(0xFFFFFFFF, -1, "Maps/Field.DDS"));
    original.AddFile(PackageFileInfo(1, 0, ""));
    original.AddFile(PackageFileInfo(0x00ABCDEF, 123456, "\xC4rger.ini"));
    LoadedPackage loaded(SavedBytes(original));
    EXPECT_STREQ(loaded.package.GetName(), "Maps Pack");
    EXPECT_STREQ(loaded.package.GetVersion(), "2.0 beta");
    EXPECT_STREQ(loaded.package.GetAuthor(), "Some Author");
    EXPECT_EQ(loaded.package.GetRevision(), 2);
    ASSERT_EQ(loaded.package.GetFileCount(), 3);
    EXPECT_EQ(loaded.package.GetFileInfo(0).crc, 0xFFFFFFFFu);
    EXPECT_EQ(loaded.package.GetFileInfo(0).size, -1);
    EXPECT_STREQ(loaded.package.GetFileInfo(0).name, "maps/field.dds");
    EXPECT_STREQ(loaded.package.GetFileInfo(1).name, "");
    EXPECT_STREQ(loaded.package.GetFileInfo(2).name, "\xC4rger.ini");  // only ASCII letters change
}

TEST(PackageTest, UpperCaseNameFromAnotherWriterReadsBackLowerCase) {
    const std::string bytes = Chunk(Package::DataChunkId, Text("p") + Text("v") + Text("a") + Le32(7)) +
                              Chunk(Package::FileChunkId, Le32(5) + Le32(6) + Text("DATA\\RULES.INI"));
    LoadedPackage loaded(bytes);
    EXPECT_EQ(loaded.package.GetRevision(), 7);
    ASSERT_EQ(loaded.package.GetFileCount(), 1);
    EXPECT_STREQ(loaded.package.GetFileInfo(0).name, "data\\rules.ini");
}

TEST(PackageTest, ForeignChunksAreIgnoredAndALaterDataChunkWins) {
    const std::string bytes = Chunk(Package::DataChunkId, Text("old") + Text("1") + Text("x") + Le32(1)) +
                              Chunk(0x12345678, "whatever is in here") +
                              Chunk(Package::FileChunkId, Le32(5) + Le32(6) + Text("f")) +
                              Chunk(Package::DataChunkId, Text("new") + Text("2") + Text("y") + Le32(3));
    LoadedPackage loaded(bytes);
    EXPECT_STREQ(loaded.package.GetName(), "new");
    EXPECT_EQ(loaded.package.GetRevision(), 3);
    ASSERT_EQ(loaded.package.GetFileCount(), 1);
    EXPECT_EQ(loaded.package.GetFileInfo(0).crc, 5u);
}

TEST(PackageTest, EmptyStreamYieldsEmptyPackage) {
    LoadedPackage loaded("");
    EXPECT_STREQ(loaded.package.GetName(), "");
    EXPECT_STREQ(loaded.package.GetVersion(), "");
    EXPECT_STREQ(loaded.package.GetAuthor(), "");
    EXPECT_EQ(loaded.package.GetFileCount(), 0);
}

TEST(PackageTest, RecordClaimingMoreThanTheFileHoldsYieldsTheFieldsThatWereThere) {
    // The DATA chunk announces 2 GiB but the file ends after the name and a
    // version length of 60000 whose bytes are missing.
    const std::string bytes = Le32(Package::DataChunkId) + Le32(0x7FFFFFFF) + Text("pk") + std::string("\x60\xEA", 2);
    LoadedPackage loaded(bytes);
    EXPECT_STREQ(loaded.package.GetName(), "pk");
    EXPECT_STREQ(loaded.package.GetVersion(), "");
    EXPECT_STREQ(loaded.package.GetAuthor(), "");
    EXPECT_EQ(loaded.package.GetFileCount(), 0);
}

TEST(PackageTest, FileChunkTooShortForItsNameKeepsTheNumbers) {
    const std::string bytes = Chunk(Package::FileChunkId, Le32(9) + Le32(4) + std::string("\x10\x00", 2) + "abc");
    LoadedPackage loaded(bytes);
    ASSERT_EQ(loaded.package.GetFileCount(), 1);
    EXPECT_EQ(loaded.package.GetFileInfo(0).crc, 9u);
    EXPECT_EQ(loaded.package.GetFileInfo(0).size, 4);
    EXPECT_STREQ(loaded.package.GetFileInfo(0).name, "");
}

TEST(PackageTest, ManyFilesKeepTheirOrder) {
    Package original("many", "1", "me");
    for (uint32_t index = 0; index < 5000; ++index) {
        original.AddFile(PackageFileInfo(index, static_cast<int32_t>(index), "x"));
    }
    LoadedPackage loaded(SavedBytes(original));
    ASSERT_EQ(loaded.package.GetFileCount(), 5000);
    for (int index = 0; index < 5000; ++index) {
        ASSERT_EQ(loaded.package.GetFileInfo(index).crc, static_cast<uint32_t>(index));
    }
}

TEST(PackageFileInfoTest, EntriesAreEqualWhenTheirChecksumsAre) {
    EXPECT_TRUE(PackageFileInfo(1, 2, "a") == PackageFileInfo(1, 3, "b"));
    EXPECT_FALSE(PackageFileInfo(1, 2, "a") == PackageFileInfo(2, 2, "a"));
}

using PackageEvent = TypedEventPtr<ResourceAvailable, Package>;

// Writes what happens to it into a shared log.
class LoggingObserver : public Observer<PackageEvent> {
public:
    LoggingObserver(std::string tag, std::vector<std::string>& log) : Tag(std::move(tag)), Log(log) {}
    void HandleNotification(PackageEvent& event) override {
        Log.push_back(Tag + " notified of " + event.subject->GetName().Peek());
    }
    void NotifierRemoved(Notifier<PackageEvent>& notifier) override {
        Log.push_back(Tag + " removed");
        Observer::NotifierRemoved(notifier);
    }

private:
    std::string Tag;
    std::vector<std::string>& Log;
};

TEST(NotifierTest, ObserversAreNotifiedInRegistrationOrderAndOnlyOnce) {
    std::vector<std::string> log;
    LoggingObserver first("first", log);
    LoggingObserver second("second", log);
    Package package("pk", "1", "me");
    EXPECT_FALSE(package.HasObservers());
    package.AddObserver(first);
    package.AddObserver(second);
    package.AddObserver(first);
    EXPECT_TRUE(package.HasObservers());
    EXPECT_EQ(first.GetNotifierCount(), 1);
    PackageEvent event{&package};
    package.NotifyObservers(event);
    EXPECT_EQ(log, (std::vector<std::string>{"first notified of pk", "second notified of pk"}));
}

TEST(NotifierTest, RemovingAndDestroyingTellTheObservers) {
    std::vector<std::string> log;
    LoggingObserver first("first", log);
    LoggingObserver second("second", log);
    LoggingObserver third("third", log);
    {
        Package package("pk", "1", "me");
        package.AddObserver(first);
        package.AddObserver(second);
        package.AddObserver(third);
        package.RemoveObserver(second);
        package.RemoveObserver(second);
        EXPECT_EQ(second.GetNotifierCount(), 0);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"second removed", "third removed", "first removed"}));
    EXPECT_EQ(first.GetNotifierCount(), 0);
    EXPECT_EQ(third.GetNotifierCount(), 0);
}

TEST(NotifierTest, ObserverThatGoesAwayFirstLeavesTheNotifier) {
    std::vector<std::string> log;
    Package package("pk", "1", "me");
    {
        LoggingObserver passing("passing", log);
        package.AddObserver(passing);
    }
    EXPECT_FALSE(package.HasObservers());
}

}  // namespace
