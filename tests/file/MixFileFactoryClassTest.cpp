#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/FileClass.h"
#include "file/MixFileFactoryClass.h"
#include "file/SimpleFileFactoryClass.h"
#include "support/MixWriter.h"
#include "support/RecordBytes.h"
#include "support/TestSupport.h"

using testsupport::Le32;
using testsupport::MixArchive;
using testsupport::MixEntry;
using testsupport::MixWriter;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A folder factory on a temporary folder that counts the objects it hands
// out and gets back, so tests can see that no archive file is kept.
class ArchiveFolder : public FileFactoryClass {
public:
    ArchiveFolder() { Folders.SetSearchPath((Root.Path() + "\\").c_str()); }

    FileClass* GetFile(const char* name) override {
        ++Outstanding;
        return Folders.GetFile(name);
    }
    void ReturnFile(FileClass* file) override {
        --Outstanding;
        Folders.ReturnFile(file);
    }

    void Write(const std::string& name, const std::string& bytes) { WriteFile(Root / name, bytes); }

    TempDir Root;
    SimpleFileFactoryClass Folders;
    int Outstanding = 0;
};

struct MemberView {
    bool found = false;
    bool opened = false;
    int size = -1;
    std::string bytes;  // a Read of 4096 bytes
};

MemberView View(MixFileFactoryClass& archive, const char* name) {
    MemberView view;
    FileClass* file = archive.GetFile(name);
    view.found = file != nullptr;
    if (file == nullptr) {
        return view;
    }
    view.opened = file->Open(FileClass::ReadOnly) != 0;
    if (view.opened) {
        view.size = file->Size();
        std::string buffer(4096, '\0');
        const int count = file->Read(buffer.data(), static_cast<int>(buffer.size()));
        view.bytes = buffer.substr(0, count > 0 ? count : 0);
        file->Close();
    }
    archive.ReturnFile(file);
    return view;
}

// The names listed; `whole` tells whether the table was read to its end.
std::vector<std::string> NamesOf(MixFileFactoryClass& archive, bool* whole = nullptr) {
    DynamicVectorClass<StringClass> list;
    const bool read = archive.GetFileNames(list);
    if (whole != nullptr) {
        *whole = read;
    }
    std::vector<std::string> names;
    for (int index = 0; index < list.Count(); ++index) {
        names.emplace_back(list[index].Peek());
    }
    return names;
}

TEST(MixFileFactoryClassTest, FindsEveryMemberByNameWhateverTheLetterCase) {
    ArchiveFolder folder;
    folder.Write("game.mix", MixWriter()
                                 .Add("abc", "first member")
                                 .Add("maps\\b.ini", std::string(5000, 'b'))
                                 .Add("c.txt", "")
                                 .Build()
                                 .bytes);
    MixFileFactoryClass archive("game.mix", &folder);
    ASSERT_TRUE(archive.IsValid);
    EXPECT_EQ(folder.Outstanding, 0);

    for (const char* name : {"abc", "ABC", "aBc"}) {
        const MemberView view = View(archive, name);
        EXPECT_EQ(view.bytes, "first member") << name;
        EXPECT_EQ(view.size, 12) << name;
    }
    EXPECT_EQ(View(archive, "MAPS\\B.INI").bytes, std::string(4096, 'b'));
    EXPECT_EQ(View(archive, "maps\\b.ini").size, 5000);
    const MemberView empty = View(archive, "c.txt");
    EXPECT_TRUE(empty.found);
    EXPECT_EQ(empty.size, 0);
    EXPECT_EQ(empty.bytes, "");
    EXPECT_FALSE(View(archive, "b.ini").found);  // the folder part belongs to the name
    EXPECT_FALSE(View(archive, "missing").found);
    EXPECT_EQ(folder.Outstanding, 0);
}

TEST(MixFileFactoryClassTest, AMemberObjectSeesOnlyItsWindow) {
    ArchiveFolder folder;
    folder.Write(
        "game.mix",
        MixWriter().FirstMemberAt(4096).Add("member", std::string(50, 'm')).Add("next", "after").Build().bytes);
    MixFileFactoryClass archive("game.mix", &folder);
    FileClass* file = archive.GetFile("member");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->Open(FileClass::ReadOnly));
    EXPECT_EQ(file->Tell(), 0);
    EXPECT_EQ(file->Size(), 50);
    char buffer[100];
    EXPECT_EQ(file->Read(buffer, sizeof buffer), 50);
    EXPECT_EQ(std::string(buffer, 50), std::string(50, 'm'));
    EXPECT_EQ(file->Seek(0, FileClass::FromEnd), 50);
    file->Close();
    EXPECT_TRUE(file->IsAvailable(false));
    archive.ReturnFile(file);
}

TEST(MixFileFactoryClassTest, SortsAnIndexStoredOutOfOrder) {
    MixWriter writer;
    for (int index = 0; index < 40; ++index) {
        writer.Add("member" + std::to_string(index), "contents " + std::to_string(index));
    }
    const MixArchive built = writer.UnsortedIndex().Build();
    ASSERT_GT(built.entries.front().crc, built.entries.back().crc);
    ArchiveFolder folder;
    folder.Write("game.mix", built.bytes);
    MixFileFactoryClass archive("game.mix", &folder);
    ASSERT_TRUE(archive.IsValid);
    for (int index = 0; index < 40; ++index) {
        const std::string name = "member" + std::to_string(index);
        EXPECT_EQ(View(archive, name.c_str()).bytes, "contents " + std::to_string(index)) << name;
    }
}

TEST(MixFileFactoryClassTest, AnEmptyIndexIsValidAndFindsNothing) {
    ArchiveFolder folder;
    folder.Write("empty.mix", MixWriter().AddUnindexed("a.ini", "data").Build().bytes);
    MixFileFactoryClass archive("empty.mix", &folder);
    EXPECT_TRUE(archive.IsValid);
    EXPECT_FALSE(View(archive, "a.ini").found);
    EXPECT_EQ(NamesOf(archive), std::vector<std::string>{"a.ini"});
}

TEST(MixFileFactoryClassTest, ANameMissingFromTheIndexIsNotFound) {
    ArchiveFolder folder;
    folder.Write("game.mix", MixWriter().Add("listed", "yes").AddUnindexed("unlisted", "no").Build().bytes);
    MixFileFactoryClass archive("game.mix", &folder);
    ASSERT_TRUE(archive.IsValid);
    EXPECT_EQ(View(archive, "listed").bytes, "yes");
    EXPECT_FALSE(View(archive, "unlisted").found);
}

struct InvalidCase {
    const char* what;
    std::string bytes;
};

// Archives that must be refused as a whole: no member is found in them.
std::vector<InvalidCase> InvalidArchives() {
    MixWriter two;
    two.Add("a", "aaaa").Add("b", "bbbb");
    const MixArchive good = two.Build();
    std::vector<InvalidCase> cases;
    cases.push_back({"wrong magic", MixWriter(two).Magic("MIX2").Build().bytes});
    cases.push_back({"lower-case magic", MixWriter(two).Magic("mix1").Build().bytes});
    cases.push_back({"empty file", ""});
    cases.push_back({"short header", good.bytes.substr(0, 15)});
    cases.push_back({"index cut after two count bytes", good.bytes.substr(0, good.indexOffset + 2)});
    cases.push_back({"index cut inside the second entry", good.bytes.substr(0, good.indexOffset + 4 + 12 + 5)});
    const MixArchive overCounted = MixWriter().Add("a", "aaaa").EntryCount(2).Build();
    cases.push_back(
        {"count one more than the file holds", overCounted.bytes.substr(0, overCounted.indexOffset + 4 + 12)});
    cases.push_back({"absurd count", MixWriter(two).EntryCount(0xFFFFFFFFu).Build().bytes});
    cases.push_back({"count whose byte size wraps in 32 bits", MixWriter(two).EntryCount(0x15555556u).Build().bytes});
    std::string beyond = good.bytes;
    beyond.replace(4, 4, Le32(static_cast<uint32_t>(beyond.size())));
    cases.push_back({"index offset at the end of the file", beyond});
    beyond.replace(4, 4, Le32(0xFFFFFFF0u));
    cases.push_back({"index offset beyond 2 GiB", beyond});
    return cases;
}

TEST(MixFileFactoryClassTest, RefusesDamagedArchivesWithoutFindingAnything) {
    for (const InvalidCase& damaged : InvalidArchives()) {
        ArchiveFolder folder;
        folder.Write("bad.mix", damaged.bytes);
        MixFileFactoryClass archive("bad.mix", &folder);
        EXPECT_FALSE(archive.IsValid) << damaged.what;
        EXPECT_FALSE(View(archive, "a").found) << damaged.what;
        EXPECT_TRUE(NamesOf(archive).empty()) << damaged.what;
        EXPECT_EQ(folder.Outstanding, 0) << damaged.what;
    }
}

TEST(MixFileFactoryClassTest, AMissingArchiveFindsNothing) {
    ArchiveFolder folder;
    MixFileFactoryClass archive("Always.dat", &folder);
    EXPECT_FALSE(archive.IsValid);
    EXPECT_FALSE(View(archive, "a").found);
    EXPECT_EQ(folder.Outstanding, 0);
}

TEST(MixFileFactoryClassTest, AnIndexThatExactlyFillsTheFileIsValid) {
    const MixArchive built = MixWriter().Add("a", "aaaa").RawNameTable({}).NameCount(0).Build();
    ArchiveFolder folder;
    folder.Write("tight.mix", built.bytes.substr(0, built.namesOffset));
    MixFileFactoryClass archive("tight.mix", &folder);
    EXPECT_TRUE(archive.IsValid);
    EXPECT_EQ(View(archive, "a").bytes, "aaaa");
}

TEST(MixFileFactoryClassTest, MembersOutsideTheFileReadShortAndNeverOutOfBounds) {
    ArchiveFolder folder;
    const MixArchive built = MixWriter()
                                 .Add("tail", "0123456789")
                                 .Add("beyond", "x")
                                 .Add("huge", "y")
                                 .Add("negative", "z")
                                 .Add("header", "h")
                                 .Build();
    const uint32_t fileSize = static_cast<uint32_t>(built.bytes.size());
    const uint32_t tailOffset = fileSize - 3;
    const std::string placed = MixWriter()
                                   .Add("tail", "0123456789")
                                   .Add("beyond", "x")
                                   .Add("huge", "y")
                                   .Add("negative", "z")
                                   .Add("header", "h")
                                   .Place("tail", tailOffset, 100)
                                   .Place("beyond", fileSize + 1000, 10)
                                   .Place("huge", 16, 0x7FFFFFF0u)
                                   .Place("negative", 0x80000010u, 10)
                                   .Place("header", 0, 16)
                                   .Build()
                                   .bytes;
    ASSERT_EQ(placed.size(), fileSize);
    folder.Write("odd.mix", placed);
    MixFileFactoryClass archive("odd.mix", &folder);
    ASSERT_TRUE(archive.IsValid);

    EXPECT_EQ(View(archive, "tail").bytes, placed.substr(tailOffset));
    const MemberView beyond = View(archive, "beyond");
    EXPECT_TRUE(beyond.found);
    EXPECT_EQ(beyond.bytes, "");
    EXPECT_EQ(View(archive, "huge").bytes, placed.substr(16, 4096));
    // A member cannot start on the header or beyond 2 GiB: such entries
    // would expose the whole archive through an unwindowed object.
    EXPECT_FALSE(View(archive, "negative").found);
    EXPECT_FALSE(View(archive, "header").found);
    EXPECT_EQ(folder.Outstanding, 0);
}

TEST(MixFileFactoryClassTest, ListsTheNameTableInTableOrder) {
    ArchiveFolder folder;
    folder.Write("game.mix", MixWriter().Add("z.ini", "z").Add("a.ini", "a").Add("maps\\m.ini", "m").Build().bytes);
    MixFileFactoryClass archive("game.mix", &folder);
    EXPECT_EQ(NamesOf(archive), (std::vector<std::string>{"z.ini", "a.ini", "maps\\m.ini"}));
    EXPECT_EQ(folder.Outstanding, 0);
}

struct NameTableCase {
    const char* what;
    std::vector<std::string> entries;
    uint32_t count;
    std::vector<std::string> expected;
    bool whole = true;
};

class NameTableTest : public ::testing::TestWithParam<NameTableCase> {};

TEST_P(NameTableTest, ReadsWhatTheTableHoldsAndStopsAtItsEnd) {
    ArchiveFolder folder;
    folder.Write("game.mix",
                 MixWriter().Add("a", "x").RawNameTable(GetParam().entries).NameCount(GetParam().count).Build().bytes);
    MixFileFactoryClass archive("game.mix", &folder);
    ASSERT_TRUE(archive.IsValid);
    bool whole = !GetParam().whole;
    EXPECT_EQ(NamesOf(archive, &whole), GetParam().expected);
    EXPECT_EQ(whole, GetParam().whole);
    EXPECT_EQ(folder.Outstanding, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, NameTableTest,
    ::testing::Values(NameTableCase{"terminated name", {std::string("a.ini\0", 6)}, 1, {"a.ini"}},
                      NameTableCase{"name without terminator", {"b.ini"}, 1, {"b.ini"}},
                      NameTableCase{"text ends at the first zero", {std::string("c\0junk", 6)}, 1, {"c"}},
                      NameTableCase{"longest name", {std::string(255, 'n')}, 1, {std::string(255, 'n')}},
                      NameTableCase{"count larger than the table",
                                    {std::string("a\0", 2), std::string("b\0", 2)},
                                    0xFFFFFFFFu,
                                    {"a", "b"},
                                    false},
                      NameTableCase{
                          "count smaller than the table", {std::string("a\0", 2), std::string("b\0", 2)}, 1, {"a"}},
                      NameTableCase{"no names", {}, 0, {}}));

TEST(MixFileFactoryClassTest, ANameWhoseLengthRunsPastTheEndStopsTheList) {
    const MixArchive built = MixWriter().Add("a", "x").RawNameTable({std::string("first\0", 6)}).NameCount(2).Build();
    ArchiveFolder folder;
    folder.Write("game.mix", built.bytes + static_cast<char>(40) + "short");
    MixFileFactoryClass archive("game.mix", &folder);
    bool whole = true;
    EXPECT_EQ(NamesOf(archive, &whole), std::vector<std::string>{"first"});
    EXPECT_FALSE(whole);
}

TEST(MixFileFactoryClassTest, ANameTableOffsetBeyondTheFileListsNothing) {
    MixArchive built = MixWriter().Add("a", "x").Build();
    built.bytes.replace(8, 4, Le32(0xFFFFFFFFu));
    ArchiveFolder folder;
    folder.Write("game.mix", built.bytes);
    MixFileFactoryClass archive("game.mix", &folder);
    ASSERT_TRUE(archive.IsValid);
    bool whole = true;
    EXPECT_TRUE(NamesOf(archive, &whole).empty());
    EXPECT_FALSE(whole);
}

}  // namespace
