#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/MixWriter.h"
#include "support/RecordBytes.h"
#include "support/TestSupport.h"
#ifdef _WIN32
#include "support/win32/HostCommand.h"
#endif

using testsupport::Le32;
using testsupport::MixArchive;
using testsupport::MixWriter;
using testsupport::ProgramResult;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// The digest that the system's own MD5 tool gives for these bytes.
std::string Md5sumOf(const std::string& bytes) {
    TempDir scratch;
    WriteFile(scratch / "input", bytes);
    const std::string digest = testsupport::ReferenceMd5({scratch / "input"});
    EXPECT_EQ(digest.size(), 32u);
    return digest;
}

// What Veriprint hashes for a file that is not an archive.
std::string WholeFileDigest(const std::string& contents) {
    return Md5sumOf(Le32(static_cast<uint32_t>(contents.size())) + contents);
}

ProgramResult Veriprint(const std::string& folder, const std::vector<std::string>& arguments) {
    return RunProgram(VERIPRINT_EXE, arguments, folder);
}

void ExpectLine(const ProgramResult& result, const std::string& digest, const std::string& printedName) {
    EXPECT_EQ(result.out, digest + "=" + printedName + "\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
}

std::string Pattern(size_t length) {
    std::string bytes(length, '\0');
    for (size_t index = 0; index < length; ++index) {
        bytes[index] = static_cast<char>(index * 131 + index / 256);
    }
    return bytes;
}

const char* const UsageText =
    "Veriprint tool to generate a hash of a file for the anticheat.ini file\n"
    "usage:\n"
    "Veriprint filename\n"
    "filename is the name of the file to hash\n";

TEST(VeriprintTest, WithoutAFileNamePrintsTheUsageAndExitsWithOne) {
    TempDir folder;
    const ProgramResult result = Veriprint(folder.Path(), {});
    EXPECT_EQ(result.out, UsageText);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
}

// Asked for, the usage and the version are answers, not failures; a file of
// such a name is still reached through its folder.
TEST(VeriprintTest, HelpAndVersionAreAnsweredWithExitCodeZero) {
    TempDir folder;
    const ProgramResult help = Veriprint(folder.Path(), {"--help"});
    EXPECT_EQ(help.out, UsageText);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.exitCode, 0);
    const ProgramResult version = Veriprint(folder.Path(), {"--version", "ignored"});
    EXPECT_EQ(version.out, "Veriprint 4.00\n");
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.exitCode, 0);

    WriteFile(folder / "--help", "x");
    ExpectLine(Veriprint(folder.Path(), {"./--help"}), WholeFileDigest("x"), "--help");
}

TEST(VeriprintTest, AFileThatCannotBeOpenedIsReportedWithTheNameAsTyped) {
    TempDir folder;
    testsupport::MakeFolders(folder / "sub/dir");
    for (const char* name : {"missing.bin", "sub\\missing.bin", "sub/dir", ""}) {
        const ProgramResult result = Veriprint(folder.Path(), {name});
        EXPECT_EQ(result.out, std::string("Failed to open file '") + name + "'.\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 1);
    }
}

struct PlainCase {
    const char* what;
    std::string contents;
};

class VeriprintPlainFileTest : public ::testing::TestWithParam<PlainCase> {};

TEST_P(VeriprintPlainFileTest, HashesTheSizeAndThenTheContents) {
    TempDir folder;
    WriteFile(folder / "file.bin", GetParam().contents);
    ExpectLine(Veriprint(folder.Path(), {"file.bin", "ignored"}), WholeFileDigest(GetParam().contents), "file.bin");
}

MixArchive SmallArchive() { return MixWriter().Add("a.ini", "alpha").Add("b.ini", "beta").Build(); }

INSTANTIATE_TEST_SUITE_P(
    Files, VeriprintPlainFileTest,
    ::testing::Values(PlainCase{"empty", ""}, PlainCase{"one byte", "x"}, PlainCase{"one piece", Pattern(128 * 1024)},
                      PlainCase{"one piece and one byte", Pattern(128 * 1024 + 1)},
                      PlainCase{"several pieces", Pattern(300000)}, PlainCase{"magic alone", "MIX1"},
                      PlainCase{"header only", SmallArchive().bytes.substr(0, 16)},
                      PlainCase{"index cut short", SmallArchive().bytes.substr(0, SmallArchive().indexOffset + 4 + 12)},
                      PlainCase{"absurd entry count", MixWriter().Add("a", "a").EntryCount(0xFFFFFFFFu).Build().bytes},
                      PlainCase{"index offset beyond the end",
                                std::string("MIX1") + Le32(0x7FFFFFF0u) + std::string(8, '\0')},
                      PlainCase{"other magic", MixWriter().Add("a", "a").Magic("MIX0").Build().bytes}));

TEST(VeriprintTest, HashesOnlyTheIndexEntriesOfAnArchiveInFileOrder) {
    for (const MixArchive& archive :
         {SmallArchive(), MixWriter().Add("a", "1").Add("b", "2").Add("c", "3").UnsortedIndex().Build(),
          MixWriter().AddUnindexed("a", "x").Build()}) {
        TempDir folder;
        WriteFile(folder / "Always.dat", archive.bytes);
        ExpectLine(Veriprint(folder.Path(), {"Always.dat"}), Md5sumOf(archive.IndexEntryBytes()), "Always.dat");
    }
}

TEST(VeriprintTest, AnEmptyArchiveHashesAsEmptyInput) {
    TempDir folder;
    WriteFile(folder / "empty.mix", MixWriter().Build().bytes);
    ExpectLine(Veriprint(folder.Path(), {"empty.mix"}), "d41d8cd98f00b204e9800998ecf8427e", "empty.mix");
}

TEST(VeriprintTest, AnArchiveHashChangesWithTheIndexOnly) {
    const std::string same = "alpha";
    const MixArchive original = MixWriter().Add("a.ini", same).Add("b.ini", "beta").Build();
    const MixArchive renamed =
        MixWriter().Add("a.ini", same).Add("b.ini", "beta").RawNameTable({std::string("other.ini\0", 10)}).Build();
    const MixArchive newData = MixWriter().Add("a.ini", "ALPHA").Add("b.ini", "BETA").Build();
    const MixArchive moved = MixWriter().FirstMemberAt(64).Add("a.ini", same).Add("b.ini", "beta").Build();
    const MixArchive resized = MixWriter().Add("a.ini", same + "!").Add("b.ini", "beta").Build();

    TempDir folder;
    auto digestOf = [&folder](const MixArchive& archive) {
        WriteFile(folder / "game.mix", archive.bytes);
        const ProgramResult result = Veriprint(folder.Path(), {"game.mix"});
        EXPECT_EQ(result.exitCode, 0);
        return result.out;
    };
    const std::string originalLine = digestOf(original);
    EXPECT_EQ(digestOf(renamed), originalLine);
    EXPECT_EQ(digestOf(newData), originalLine);
    EXPECT_NE(digestOf(moved), originalLine);
    EXPECT_NE(digestOf(resized), originalLine);
}

TEST(VeriprintTest, PrintsTheNameAfterItsLastFolderSeparator) {
    TempDir folder;
    const std::string contents = "some contents";
    const std::string digest = WholeFileDigest(contents);
    WriteFile(folder / "x.mix", contents);
    WriteFile(folder / "dir/x.mix", contents);
    std::vector<std::string> names = {"x.mix", "dir/x.mix", "dir\\x.mix", "./dir\\x.mix", folder / "dir/x.mix"};
#ifndef _WIN32
    // Here a drive letter is just a folder name.
    WriteFile(folder / "C:/Games/Data/maps/x.mix", contents);
    names.push_back("C:\\Games\\Data/maps\\x.mix");
#endif
    for (const std::string& typed : names) {
        SCOPED_TRACE(typed);
        ExpectLine(Veriprint(folder.Path(), {typed}), digest, "x.mix");
    }
}

TEST(VeriprintTest, ResolvesARelativeNameInTheCurrentDirectoryEvenWithSemicolons) {
    TempDir root;
    WriteFile(root / "a;b/c/file.txt", "in the awkward folder");
    WriteFile(root / "c/file.txt", "wrong file");
    ExpectLine(Veriprint(root / "a;b", {"c\\file.txt"}), WholeFileDigest("in the awkward folder"), "file.txt");
}

// A file whose reads fail has no digest: a digest of the bytes before the
// failure would pass for the file's.
void ExpectCannotBeRead(const ProgramResult& result, const std::string& name) {
    EXPECT_EQ(result.out, "Failed to open file '" + name + "'.\n");
    EXPECT_EQ(result.exitCode, 1);
}

// A file the kernel refuses to read although it opens and has a size: the
// loopback interface has no link speed to tell.
TEST(VeriprintTest, AFileTheSystemRefusesToReadHasNoDigest) {
#ifdef _WIN32
    const std::string folder = "Z:\\sys\\class\\net\\lo";
#else
    const std::string folder = "/sys/class/net/lo";
#endif
    std::FILE* probe = std::fopen((folder + "/speed").c_str(), "rb");
    char byte;
    const bool refused = probe != nullptr && std::fread(&byte, 1, 1, probe) == 0 && std::ferror(probe) != 0;
    if (probe != nullptr) {
        std::fclose(probe);
    }
    if (!refused) {
        GTEST_SKIP() << "this system has no " << folder << "/speed that opens but cannot be read";
    }
    ExpectCannotBeRead(Veriprint(folder, {"speed"}), "speed");
}

#ifdef READ_FAILURE_LIBRARY
// Runs Veriprint on name in folder, whose reads fail from byte failAt on as
// on a disk with a bad sector there.
ProgramResult VeriprintOnBadSector(const std::string& folder, const std::string& name, size_t failAt) {
#ifdef _WIN32
    // The library is one of the host system: Wine is started from there with
    // it loaded, and reports the failed reads to the program as Windows would.
    // The host's output loses its trailing line feeds; a '|' after it keeps them.
    const testsupport::HostCommandResult run = testsupport::RunHostScript(
        "cd \"$1\" && LD_PRELOAD=\"$2\" READ_FAILURE_PATH=\"$1/$3\" READ_FAILURE_OFFSET=\"$4\" \"$5\" \"$6\" \"$3\"; "
        "code=$?; printf '|'; exit $code",
        {testsupport::HostPath(folder), READ_FAILURE_LIBRARY, name, std::to_string(failAt), WINE_RUN,
         testsupport::HostPath(VERIPRINT_EXE)});
    ProgramResult result;
    if (run.finished && !run.output.empty() && run.output.back() == '|') {
        result.exitCode = run.exitCode;
        result.out = run.output.substr(0, run.output.size() - 1);
    }
    return result;
#else
    return RunProgram(VERIPRINT_EXE, {name}, folder,
                      {"LD_PRELOAD=" READ_FAILURE_LIBRARY, "READ_FAILURE_PATH=" + folder + "/" + name,
                       "READ_FAILURE_OFFSET=" + std::to_string(failAt), "ASAN_OPTIONS=verify_asan_link_order=0"});
#endif
}

struct BadSectorCase {
    const char* what;
    std::string contents;
    size_t failAt;
};

void PrintTo(const BadSectorCase& test, std::ostream* out) { *out << test.what; }

class VeriprintBadSectorTest : public ::testing::TestWithParam<BadSectorCase> {};

TEST_P(VeriprintBadSectorTest, AReadThatFailsGivesNoDigest) {
    TempDir folder;
    WriteFile(folder / "game.bin", GetParam().contents);
    const ProgramResult intact = Veriprint(folder.Path(), {"game.bin"});
    ASSERT_EQ(intact.exitCode, 0) << "the file reads whole without the failure";
    ExpectCannotBeRead(VeriprintOnBadSector(folder.Path(), "game.bin", GetParam().failAt), "game.bin");
}

MixArchive LargeIndexArchive() {
    MixWriter writer;
    for (int index = 0; index < 30000; ++index) {
        writer.Add("member" + std::to_string(index), "");
    }
    return writer.Build();
}

INSTANTIATE_TEST_SUITE_P(Files, VeriprintBadSectorTest,
                         ::testing::Values(BadSectorCase{"after 300000 bytes", Pattern(400000), 300000},
                                           BadSectorCase{"from the first byte", Pattern(1000), 0},
                                           BadSectorCase{"in an archive's header", SmallArchive().bytes, 8},
                                           BadSectorCase{"in an archive's index", SmallArchive().bytes,
                                                         SmallArchive().indexOffset + 10},
                                           BadSectorCase{"in a large index", LargeIndexArchive().bytes,
                                                         LargeIndexArchive().indexOffset + 300000}));
#endif

TEST(VeriprintTest, HashesEveryByteOfAFileLargerThanTwoGibibytes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "reading 2 GiB takes minutes under a sanitizer; the plain build runs it";
#endif
    TempDir folder;
    const uint64_t size = (uint64_t{1} << 31) + 4096 + 7;
    WriteFile(folder / "big.bin", "");
    std::filesystem::resize_file(folder / "big.bin", size);
    // The size field keeps the low 32 bits; the zeros follow it.
    WriteFile(folder / "size.bin", Le32(static_cast<uint32_t>(size)));
    const std::string reference = testsupport::ReferenceMd5({folder / "size.bin", folder / "big.bin"});
    ASSERT_EQ(reference.size(), 32u);
    ExpectLine(Veriprint(folder.Path(), {"big.bin"}), reference, "big.bin");
}

}  // namespace
