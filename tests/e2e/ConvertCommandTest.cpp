#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/MixWriter.h"
#include "support/ProgramCopy.h"
#include "support/RecordBytes.h"
#include "support/SmallDisk.h"
#include "support/StoreCause.h"
#include "support/TestSupport.h"

namespace {

using testsupport::Chunk;
using testsupport::Crc;
using testsupport::Exists;
using testsupport::InfoFileName;
using testsupport::Le32;
using testsupport::ListFolder;
using testsupport::MixArchive;
using testsupport::MixWriter;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::Text;
using testsupport::WriteFile;

// One archive member as the store should hold it.
struct Member {
    std::string recordName;  // lower case, as the package record lists it
    std::string storedName;  // the content file's name in files/
    std::string bytes;
};

Member Stored(const std::string& recordName, const std::string& bytes, const std::string& sanitisedName = "") {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%08X.", Crc(bytes));
    return {recordName, prefix + (sanitisedName.empty() ? recordName : sanitisedName), bytes};
}

// The package-info file as the conversion must write it.
std::string PackageInfo(const std::string& name, const std::string& version, const std::string& author,
                        const std::vector<Member>& members = {}) {
    std::vector<testsupport::ListedFile> listed;
    for (const Member& member : members) {
        listed.push_back({Crc(member.bytes), member.recordName, static_cast<uint32_t>(member.bytes.size())});
    }
    return testsupport::PackageRecord(name, version, author, listed);
}

std::vector<std::string> StoredNames(const std::vector<Member>& members) {
    std::vector<std::string> names;
    for (const Member& member : members) {
        names.push_back(member.storedName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A rewritten content file is a new file, renamed into place, with a new time.
std::filesystem::file_time_type WriteTimeOf(const std::string& path) {
    std::error_code error;
    return std::filesystem::last_write_time(path, error);
}

// A copy of the program in a fresh folder: with no paths.ini the game's
// file folder and the store both lie below that folder.
class ConvertCommandTest : public ::testing::Test {
protected:
    ConvertCommandTest() {
        Program = testsupport::CopyProgramInto(Folder.Path());
        ProgramFolder = std::filesystem::canonical(Folder.Path()).string();
        GameFiles = ProgramFolder + "/Ironveil/FDS";
        Store = ProgramFolder + "/Ironveil/Ironveil/mofs";
    }

    ProgramResult Run(const std::vector<std::string>& arguments) {
        return testsupport::RunProgram(Program, arguments, Folder.Path(), {"HOME=" + Folder.Path()});
    }

    ProgramResult Convert(const std::string& mixFile, const std::string& version = "1.0",
                          const std::string& author = "Jane Doe") {
        return Run({"convert", mixFile, version, author});
    }

    void PutArchive(const std::string& path, const MixWriter& writer) { WriteFile(path, writer.Build().bytes); }
    void PutGameArchive(const std::string& name, const MixWriter& writer) {
        PutArchive(GameFiles + "/" + name, writer);
    }

    std::string StorePath(const std::string& relative) const { return Store + "/" + relative; }
    std::string InfoPath(const std::string& packageName) const {
        return StorePath("packages/" + InfoFileName(packageName));
    }
    std::string ContentPath(const Member& member) const { return StorePath("files/" + member.storedName); }

    void ExpectStored(const std::vector<Member>& members) {
        EXPECT_EQ(ListFolder(StorePath("files")), StoredNames(members));
        for (const Member& member : members) {
            EXPECT_EQ(ReadFile(ContentPath(member)), member.bytes) << member.storedName;
        }
    }

    void ExpectSuccess(const ProgramResult& result) {
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
    }

    TempDir Folder;
    std::string Program;
    std::string ProgramFolder;
    std::string GameFiles;
    std::string Store;
};

TEST_F(ConvertCommandTest, EveryMemberBecomesAContentFileAndAnEntryInNameTableOrder) {
    // The names are listed out of the order of their name hashes, which is
    // the order of the index.
    const std::vector<Member> members = {
        Stored("a:b*c?.txt", std::string("\0\1\2", 3), "a_b_c_.txt"),
        Stored("data\\field.dds", std::string(10000, 'F') + "end", "data_field.dds"),
        Stored("units.ini", "[units]\r\n"),
    };
    PutGameArchive("Maps.mix", MixWriter()
                                   .Add("a:b*c?.txt", members[0].bytes)
                                   .Add("Data\\Field.DDS", members[1].bytes)
                                   .Add("UNITS.ini", members[2].bytes));

    ExpectSuccess(Convert("Maps.mix"));

    ExpectStored(members);
    EXPECT_EQ(ListFolder(StorePath("packages")), std::vector<std::string>{InfoFileName("Maps")});
    EXPECT_EQ(ReadFile(InfoPath("Maps")), PackageInfo("Maps", "1.0", "Jane Doe", members));
    // Converting does not install: no index is written.
    EXPECT_FALSE(Exists(StorePath("packages.dat")));
}

TEST_F(ConvertCommandTest, WorkedExampleRecordIsWrittenByteForByte) {
    PutGameArchive("pk.mix", MixWriter().Add("a.dat", "0123456789"));

    ExpectSuccess(Convert("pk.mix", "1", "me"));

    EXPECT_EQ(ReadFile(StorePath("files/A684C7C6.a.dat")), "0123456789");
    EXPECT_EQ(ReadFile(InfoPath("pk")), std::string("\x41\x54\x41\x44\x0F\x00\x00\x00"
                                                    "\x02\x00\x70\x6B\x01\x00\x31\x02\x00\x6D\x65\x02\x00\x00\x00"
                                                    "\x45\x4C\x49\x46\x0F\x00\x00\x00"
                                                    "\xC6\xC7\x84\xA6\x0A\x00\x00\x00\x05\x00\x61\x2E\x64\x61\x74",
                                                    46));
}

TEST_F(ConvertCommandTest, PackageNameIsCutAtTheLastDotBeforeTheFolderIsRemoved) {
    struct Case {
        std::string typed;     // as given to convert
        std::string location;  // where the archive lies
        std::string packageName;
    };
    const std::vector<Case> cases = {
        {"a.b.mix", GameFiles + "/a.b.mix", "a.b"},
        {"dir/c.d.mix", GameFiles + "/dir/c.d.mix", "c.d"},
        {"archive", GameFiles + "/archive", "archive"},
        {"x.y/second", GameFiles + "/x.y/second", "x"},
        {"sub\\Field.mix", GameFiles + "/sub/Field.mix", "Field"},
#ifndef _WIN32
        // Here a drive letter is just a folder name.
        {"C:\\p.q\\third", ProgramFolder + "/C:/p.q/third", "p"},
#endif
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.typed);
        PutArchive(test.location, MixWriter().Add("m.txt", test.typed));
        ExpectSuccess(Convert(test.typed, "v", "me"));
        EXPECT_EQ(ReadFile(InfoPath(test.packageName)),
                  PackageInfo(test.packageName, "v", "me", {Stored("m.txt", test.typed)}));
    }
    EXPECT_EQ(ListFolder(StorePath("packages")).size(), cases.size());
}

TEST_F(ConvertCommandTest, RelativeNamesAreFoundInTheGameFolderAndAbsoluteOnesAsTheyStand) {
    PutArchive(Folder / "elsewhere/Abs.mix", MixWriter().Add("abs.txt", "absolute"));
    PutArchive(Folder / "Local.mix", MixWriter().Add("local.txt", "local"));

    ExpectSuccess(Convert(Folder / "elsewhere/Abs.mix"));
    EXPECT_EQ(ReadFile(InfoPath("Abs")), PackageInfo("Abs", "1.0", "Jane Doe", {Stored("abs.txt", "absolute")}));

    // The working folder is not searched: only the game's file folder is.
    const ProgramResult local = Convert("Local.mix");
    EXPECT_EQ(local.exitCode, 1);
    testsupport::ExpectStoreCause(local.err, "Failed to open input file 'Local.mix'.\r\n", "open",
                                  GameFiles + "/Local.mix");
    EXPECT_FALSE(Exists(InfoPath("Local")));
}

// Under the name as typed, the file the program looked at, spelled the
// platform's way, and why it was not used.
TEST_F(ConvertCommandTest, UnreadableArchiveIsReportedWithTheNameAsTypedAndWhereItWasLookedFor) {
    PutGameArchive("Foreign.mix", MixWriter().Magic("MIX2").Add("a.txt", "a"));
    PutGameArchive("Short.mix", MixWriter().Add("a.txt", "a").EntryCount(1000));
    for (const auto& [typed, lookedAt] : std::vector<std::pair<std::string, std::string>>{
             {"Missing.mix", "Missing.mix"}, {"sub\\Missing.mix", "sub/Missing.mix"}}) {
        SCOPED_TRACE(typed);
        const ProgramResult result = Convert(typed);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        testsupport::ExpectStoreCause(result.err, "Failed to open input file '" + typed + "'.\r\n", "open",
                                      GameFiles + "/" + lookedAt);
    }
    for (const std::string typed : {"Foreign.mix", "Short.mix"}) {
        const ProgramResult result = Convert(typed);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "Failed to open input file '" + typed + "'.\r\nThe file '" +
                                  testsupport::NativeSpelling(GameFiles + "/" + typed) +
                                  "' is not a whole MIX1 archive.\r\n");
    }
    EXPECT_FALSE(Exists(Store));
}

// Without its whole name table the archive's members are not known: no
// package of the names that could be read is made.
TEST_F(ConvertCommandTest, ArchiveWhoseNameTableIsCutShortIsDamagedAndWritesNothing) {
    MixArchive beyond = MixWriter().Add("a.txt", "a").Build();
    beyond.bytes.replace(8, 4, Le32(static_cast<uint32_t>(beyond.bytes.size()) + 100));
    WriteFile(GameFiles + "/Beyond.mix", beyond.bytes);
    PutGameArchive("Three.mix", MixWriter().Add("a.txt", "a").RawNameTable({std::string("a.txt\0", 6)}).NameCount(3));
    // The last name is cut in the middle.
    const std::string twoNames = MixWriter().Add("a.txt", "a").Add("b.txt", "b").Build().bytes;
    WriteFile(GameFiles + "/Cut.mix", twoNames.substr(0, twoNames.size() - 3));
    for (const std::string typed : {"Beyond.mix", "Three.mix", "Cut.mix"}) {
        SCOPED_TRACE(typed);
        const ProgramResult result = Convert(typed);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "The archive '" + typed + "' is damaged: its name table cannot be read whole.\r\n");
    }
    EXPECT_FALSE(Exists(Store));
}

// An archive named only by its extension leaves no package name; install
// would refuse a package named "".
TEST_F(ConvertCommandTest, ArchiveNameThatLeavesNoPackageNameIsRefusedAndWritesNothing) {
    PutGameArchive(".mix", MixWriter().Add("a.txt", "a"));
    PutGameArchive("sub/.mix", MixWriter().Add("a.txt", "a"));
    for (const std::string typed : {".mix", "sub/.mix", "sub\\.mix"}) {
        SCOPED_TRACE(typed);
        const ProgramResult result = Convert(typed);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "The archive name '" + typed + "' gives no package name.\r\n");
    }
    EXPECT_FALSE(Exists(Store));
}

// Each text of the record has a 16-bit length: a longer one is refused
// before the store is touched, rather than stored cut.
TEST_F(ConvertCommandTest, VersionOrAuthorLongerThanTheRecordHoldsIsRefusedAndWritesNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "a Windows command line holds at most 32767 characters";
#endif
    PutGameArchive("Long.mix", MixWriter().Add("a.txt", "a"));
    const std::string longest(65535, 'v');
    const std::string tooLong(65536, 'w');
    for (const auto& [version, author] :
         {std::pair{tooLong, std::string("me")}, std::pair{std::string("1"), tooLong}}) {
        const ProgramResult result = Convert("Long.mix", version, author);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "The version and the author name may each hold at most 65535 bytes.\r\n");
        EXPECT_FALSE(Exists(Store));
    }

    ExpectSuccess(Convert("Long.mix", longest, longest));
    EXPECT_EQ(ReadFile(InfoPath("Long")), PackageInfo("Long", longest, longest, {Stored("a.txt", "a")}));
}

TEST_F(ConvertCommandTest, EmptyArchiveGivesAPackageWithoutFiles) {
    PutGameArchive("Empty.mix", MixWriter());

    ExpectSuccess(Convert("Empty.mix"));

    EXPECT_EQ(ReadFile(InfoPath("Empty")), PackageInfo("Empty", "1.0", "Jane Doe"));
    EXPECT_FALSE(Exists(StorePath("files")));
}

TEST_F(ConvertCommandTest, ZeroLengthMemberGivesChecksumZeroAndAnEmptyContentFile) {
    PutGameArchive("Zero.mix", MixWriter().Add("empty.ini", "").Add("full.ini", "x"));

    ExpectSuccess(Convert("Zero.mix"));

    const std::vector<Member> members = {Stored("empty.ini", ""), Stored("full.ini", "x")};
    EXPECT_EQ(members[0].storedName, "00000000.empty.ini");
    ExpectStored(members);
    EXPECT_EQ(ReadFile(InfoPath("Zero")), PackageInfo("Zero", "1.0", "Jane Doe", members));
}

TEST_F(ConvertCommandTest, SecondConversionRewritesOnlyContentFilesWithoutTheirChecksumAndReplacesThePackageInfoFile) {
    const std::vector<Member> members = {Stored("a.txt", "alpha"), Stored("b.txt", "beta"), Stored("c.txt", "gamma")};
    PutGameArchive("Twice.mix", MixWriter().Add("a.txt", "alpha").Add("b.txt", "beta").Add("c.txt", "gamma"));
    ExpectSuccess(Convert("Twice.mix", "1"));
    const auto firstTime = WriteTimeOf(ContentPath(members[0]));
    // A file whose bytes lack the checksum of its name was damaged (zeroed
    // at its size, or cut short by a power cut) and is written again.
    WriteFile(ContentPath(members[1]), std::string(4, '\0'));
    WriteFile(ContentPath(members[2]), "ga");

    ExpectSuccess(Convert("Twice.mix", "2"));

    EXPECT_EQ(WriteTimeOf(ContentPath(members[0])), firstTime);
    EXPECT_EQ(ReadFile(ContentPath(members[1])), "beta");
    EXPECT_EQ(ReadFile(ContentPath(members[2])), "gamma");
    EXPECT_EQ(ListFolder(StorePath("files")), StoredNames(members));
    EXPECT_EQ(ReadFile(InfoPath("Twice")), PackageInfo("Twice", "2", "Jane Doe", members));
    EXPECT_EQ(ListFolder(StorePath("packages")), std::vector<std::string>{InfoFileName("Twice")});
}

// A checksum is forged in seconds: a member with a stored file's name and
// checksum but other bytes of another size must neither replace that whole
// file nor be listed as it.
TEST_F(ConvertCommandTest, MemberForgedToTheChecksumOfAStoredFileIsSkippedAndTheFileKept) {
    const Member original = Stored("rules.ini", "[rules]\r\nSpeed=3\r\n");
    const std::string forged = testsupport::ForgeCrc("[rules]\r\nSpeed=9999999\r\n", Crc(original.bytes));
    PutGameArchive("Maps.mix", MixWriter().Add("rules.ini", original.bytes));
    PutGameArchive("Evil.mix", MixWriter().Add("rules.ini", forged).Add("other.txt", "other"));
    ExpectSuccess(Convert("Maps.mix"));

    const ProgramResult result = Convert("Evil.mix");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Skipping 'rules.ini': the store's content file 'files/" + original.storedName +
                              "' has its checksum but " + std::to_string(original.bytes.size()) + " bytes, not " +
                              std::to_string(forged.size()) + ".\r\n");
    ExpectStored({original, Stored("other.txt", "other")});
    EXPECT_EQ(ReadFile(InfoPath("Evil")), PackageInfo("Evil", "1.0", "Jane Doe", {Stored("other.txt", "other")}));
}

// The package-info file is named by the identifier alone, which another name
// can share: converting it must not replace the package-info file of Maps,
// nor write one under the identifier of an installed Maps.
TEST_F(ConvertCommandTest, ArchiveNamedWithTheIdentifierOfAnotherPackageWritesNothing) {
    ASSERT_EQ(HashName(testsupport::MapsTwin.c_str()), HashName("Maps"));
    const std::string taken = "Package '" + testsupport::MapsTwin + "' cannot be used: its identifier " +
                              InfoFileName("Maps").substr(0, 8) + " belongs to package 'Maps'.\r\n";
    PutGameArchive("Maps.mix", MixWriter().Add("maps.txt", "maps"));
    PutGameArchive(testsupport::MapsTwin + ".mix", MixWriter().Add("twin.txt", "twin"));
    ExpectSuccess(Convert("Maps.mix"));
    const std::string record = ReadFile(InfoPath("Maps"));

    for (bool installed : {false, true}) {
        SCOPED_TRACE(installed ? "installed" : "converted");
        if (installed) {
            ASSERT_EQ(Run({"install", "Maps"}).exitCode, 0);
            std::filesystem::remove(InfoPath("Maps"));
        }
        const ProgramResult result = Convert(testsupport::MapsTwin + ".mix");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, taken);
        ExpectStored({Stored("maps.txt", "maps")});
        if (!installed) {
            EXPECT_EQ(ReadFile(InfoPath("Maps")), record);
        }
    }
    EXPECT_FALSE(Exists(InfoPath("Maps")));
    // Once Maps is gone, the name is free.
    ASSERT_EQ(Run({"uninstall", "Maps"}).exitCode, 0);
    ExpectSuccess(Convert(testsupport::MapsTwin + ".mix"));
    EXPECT_EQ(ReadFile(InfoPath("Maps")),
              PackageInfo(testsupport::MapsTwin, "1.0", "Jane Doe", {Stored("twin.txt", "twin")}));
}

TEST_F(ConvertCommandTest, ContentFilesAreSharedByNameAndChecksumOnly) {
    PutGameArchive("One.mix", MixWriter().Add("shared.ini", "same").Add("copy1.txt", "twin").Add("copy2.txt", "twin"));
    PutGameArchive("Two.mix", MixWriter().Add("SHARED.INI", "same").Add("other.ini", "same"));

    ExpectSuccess(Convert("One.mix"));
    const auto sharedTime = WriteTimeOf(ContentPath(Stored("shared.ini", "same")));
    ExpectSuccess(Convert("Two.mix"));

    const std::vector<Member> all = {Stored("shared.ini", "same"), Stored("copy1.txt", "twin"),
                                     Stored("copy2.txt", "twin"), Stored("other.ini", "same")};
    ExpectStored(all);
    EXPECT_EQ(WriteTimeOf(ContentPath(all[0])), sharedTime);
    EXPECT_EQ(ReadFile(InfoPath("Two")), PackageInfo("Two", "1.0", "Jane Doe", {all[0], all[3]}));
}

// An entry at offset 0 would make the whole archive the member; one whose
// bytes reach past the end of the archive would give a content file cut
// short, or empty. A package without some of its archive's members is not
// what was asked for, so the exit code tells a script, though the rest is
// converted.
TEST_F(ConvertCommandTest, NameTheIndexCannotGiveIsSkippedAndTheRestConverted) {
    PutGameArchive("Holes.mix", MixWriter()
                                    .Add("a.txt", "a")
                                    .AddUnindexed("Ghost.dat", "boo")
                                    .Add("Header.dat", "head")
                                    .Place("Header.dat", 0, 4)
                                    .Add("Beyond.dat", "far")
                                    .Place("Beyond.dat", 0x10000, 3)
                                    .Add("Overlong.dat", "long")
                                    .Place("Overlong.dat", 16, 0x10000)
                                    .Add("Rest.dat", "rest")
                                    .Place("Rest.dat", 16, 0xFFFFFFFFu)
                                    .Add("b.txt", "b"));

    const ProgramResult result = Convert("Holes.mix");

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "Skipping 'Ghost.dat': not in the archive index.\r\n"
              "Skipping 'Header.dat': its entry in the archive index is not valid.\r\n"
              "Skipping 'Beyond.dat': its entry in the archive index is not valid.\r\n"
              "Skipping 'Overlong.dat': its entry in the archive index is not valid.\r\n"
              "Skipping 'Rest.dat': its entry in the archive index is not valid.\r\n");
    const std::vector<Member> members = {Stored("a.txt", "a"), Stored("b.txt", "b")};
    ExpectStored(members);
    EXPECT_EQ(ReadFile(InfoPath("Holes")), PackageInfo("Holes", "1.0", "Jane Doe", members));
}

// A content file's name is its checksum, a dot and the member's name: 246
// bytes of name give the longest file name there is, 255 bytes.
TEST_F(ConvertCommandTest, MemberWhoseContentFileNameIsTooLongIsSkippedAndTheRestConverted) {
    const std::string longest = std::string(242, 'n') + ".txt";
    const std::string tooLong = std::string(243, 'o') + ".txt";
    PutGameArchive("Long.mix", MixWriter().Add(longest, "fits").Add(tooLong, "does not").Add("b.txt", "b"));

    const ProgramResult result = Convert("Long.mix");

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Skipping '" + tooLong + "': its name is too long for a file of the store.\r\n");
    const std::vector<Member> members = {Stored(longest, "fits"), Stored("b.txt", "b")};
    EXPECT_EQ(members[0].storedName.size(), 255u);
    ExpectStored(members);
    EXPECT_EQ(ReadFile(InfoPath("Long")), PackageInfo("Long", "1.0", "Jane Doe", members));
}

// The program's folder is a name of this system: a backslash in it is a byte
// of a folder's name (where the system allows one), and a semicolon is never
// a separator of a list of folders.
TEST_F(ConvertCommandTest, ProgramFolderWhoseNameHoldsABackslashOrASemicolonIsUsedAsItIs) {
#ifdef _WIN32
    const std::string name = "f8;semi";
#else
    const std::string name = "f8-back\\slash;semi";
#endif
    const std::string folder = ProgramFolder + "/" + name;
    testsupport::MakeFolders(folder);
    const std::string program = testsupport::CopyProgramInto(folder);
    PutArchive(folder + "/Ironveil/FDS/Maps.mix", MixWriter().Add("a.txt", "alpha"));
    const auto run = [&](const std::vector<std::string>& arguments) {
        return testsupport::RunProgram(program, arguments, Folder.Path(), {"HOME=" + Folder.Path()});
    };

    const std::string store = folder + "/Ironveil/Ironveil/mofs";
    const ProgramResult converted = run({"convert", "Maps.mix", "1.0", "Jane Doe"});
    ExpectSuccess(converted);
    EXPECT_EQ(ReadFile(store + "/packages/" + InfoFileName("Maps")),
              PackageInfo("Maps", "1.0", "Jane Doe", {Stored("a.txt", "alpha")}));
    EXPECT_EQ(ListFolder(ProgramFolder), (std::vector<std::string>{"Quillbox", name}));
}

// The cases that abandon a conversion share one archive: the first member is
// stored, the second cannot be, the third is never reached.
class AbandonedConversionTest : public ConvertCommandTest {
protected:
    AbandonedConversionTest() {
        PutGameArchive("Stop.mix", MixWriter().Add("first.txt", "one").Add("second.txt", "two").Add("third.txt", "3"));
        // An older package-info file, which an abandoned conversion must leave alone.
        WriteFile(InfoPath("Stop"), "older");
    }

    void ExpectAbandonedAfterTheFirstMember(const ProgramResult& result, const std::string& failedCall) {
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        testsupport::ExpectStoreCause(result.err, "Failed to open file.\r\n", failedCall, StorePath(SecondPart));
        EXPECT_EQ(ReadFile(ContentPath(First)), "one");
        EXPECT_FALSE(Exists(ContentPath(Second)));
        EXPECT_FALSE(Exists(ContentPath(Third)));
        EXPECT_EQ(ReadFile(InfoPath("Stop")), "older");
        EXPECT_EQ(ListFolder(StorePath("packages")), std::vector<std::string>{InfoFileName("Stop")});
    }

    const Member First = Stored("first.txt", "one");
    const Member Second = Stored("second.txt", "two");
    const Member Third = Stored("third.txt", "3");
    // A member is copied under a name numbered by its place in the name
    // table, before its checksum is known.
    const std::string SecondPart = "files/convert-1.part";
};

TEST_F(AbandonedConversionTest, ContentFileThatCannotBeCreatedStopsTheConversion) {
    // A folder where the second member's copy must be written: opening it for
    // writing fails whoever runs the test.
    testsupport::MakeFolders(StorePath(SecondPart));

    ExpectAbandonedAfterTheFirstMember(Convert("Stop.mix"), "delete");
    std::vector<std::string> expected = {First.storedName, "convert-1.part"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListFolder(StorePath("files")), expected);
}

TEST_F(AbandonedConversionTest, ContentFileThatCannotBeWrittenCompletelyLeavesNoFileBehind) {
    // A store on a small disk with room for one page: the first member's
    // copy takes it, and the second's finds no space.
    testsupport::SmallDisk disk(Store, 64 * 1024);
    if (!disk.IsMounted()) {
        GTEST_SKIP() << disk.Failure();
    }
    WriteFile(InfoPath("Stop"), "older");
    testsupport::MakeFolders(StorePath("files"));
    ASSERT_TRUE(disk.Fill(StorePath("filler"), 4096));

    ExpectAbandonedAfterTheFirstMember(Convert("Stop.mix"), "write");
    EXPECT_EQ(ListFolder(StorePath("files")), std::vector<std::string>{First.storedName});
}

TEST_F(ConvertCommandTest, PackageInfoFileThatCannotBeCreatedIsReportedAndTheContentStays) {
    PutGameArchive("Maps.mix", MixWriter().Add("a.txt", "a"));
    WriteFile(StorePath("packages"), "not a folder");

    const ProgramResult result = Convert("Maps.mix");

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    testsupport::ExpectStoreCause(result.err,
                                  "Failed to open output file '" + ProgramFolder +
                                      "\\Ironveil\\Ironveil\\mofs/packages/" + InfoFileName("Maps") + "'.\r\n",
                                  "create", StorePath("packages/" + InfoFileName("Maps") + ".part"));
    ExpectStored({Stored("a.txt", "a")});
}

TEST_F(ConvertCommandTest, PackageInfoFileThatCannotBeWrittenCompletelyKeepsTheOlderOne) {
    // A store on a small disk, filled up after the first conversion; the
    // second finds its content file present and needs space only for the
    // package-info file.
    testsupport::SmallDisk disk(Store, 64 * 1024);
    if (!disk.IsMounted()) {
        GTEST_SKIP() << disk.Failure();
    }
    PutGameArchive("Maps.mix", MixWriter().Add("a.txt", "a"));
    ExpectSuccess(Convert("Maps.mix", "1"));
    const std::string older = ReadFile(InfoPath("Maps"));
    ASSERT_TRUE(disk.Fill(StorePath("filler"), 0));

    const ProgramResult result = Convert("Maps.mix", "2");

    EXPECT_EQ(result.exitCode, 1);
    testsupport::ExpectStoreCause(result.err,
                                  "Failed to open output file '" + ProgramFolder +
                                      "\\Ironveil\\Ironveil\\mofs/packages/" + InfoFileName("Maps") + "'.\r\n",
                                  "write", StorePath("packages/" + InfoFileName("Maps") + ".part"));
    EXPECT_EQ(ReadFile(InfoPath("Maps")), older);
    EXPECT_EQ(ListFolder(StorePath("packages")), std::vector<std::string>{InfoFileName("Maps")});
}

TEST_F(ConvertCommandTest, ConvertedPackageInstallsListsAndUninstalls) {
    const std::vector<Member> members = {Stored("maps\\field.dds", "field", "maps_field.dds"),
                                         Stored("rules.ini", "rules")};
    PutGameArchive("Maps.mix", MixWriter().Add("Maps\\Field.dds", "field").Add("Rules.ini", "rules"));
    PutGameArchive("Units.mix", MixWriter().Add("rules.ini", "rules"));
    ExpectSuccess(Convert("Maps.mix", "1.2", "Jane Doe"));
    ExpectSuccess(Convert("Units.mix", "3", "Joe"));
    // What a conversion that crashed in the middle of a copy leaves behind.
    WriteFile(StorePath("files/convert-4.part"), "half");

    EXPECT_EQ(Run({"install", "maps"}).out, "Package 'maps' is now installed.\r\n");
    EXPECT_EQ(Run({"install", "Units"}).out, "Package 'Units' is now installed.\r\n");
    EXPECT_EQ(Run({"list"}).out,
              "The following packages are installed:\r\nMaps version 1.2 by Jane Doe\r\nUnits version 3 by Joe\r\n");

    const ProgramResult uninstall = Run({"uninstall", "Maps"});
    EXPECT_EQ(uninstall.out, "Package 'Maps' is now uninstalled.\r\n");
    EXPECT_EQ(uninstall.err, "");
    EXPECT_FALSE(Exists(InfoPath("Maps")));
    ExpectStored({members[1]});
    EXPECT_EQ(Run({"list"}).out, "The following packages are installed:\r\nUnits version 3 by Joe\r\n");
}

}  // namespace
