// Every call of a kind that a command makes, failed in turn with the error of
// a failing disk: the first, the second, ... until a run makes no such call
// (QuillboxFaulty, the test build of the program, fails the call that
// QUILLBOX_FAIL names and says so in a marker file). Whatever fails, the
// command fails with exit 1 and a message, or reports a result that is
// there; a failed force, folder sync or lock always fails it, since what it
// would report could be taken back by a power cut. Afterwards list works,
// what was installed before is whole, every content file holds the bytes its
// name promises, and the same command run again completes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "download/PackageRepository.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"
#include "support/StoreCause.h"
#include "support/TestSupport.h"
#include "support/faults/ArmedFaults.h"

namespace {

using platform::FaultKind;
using repositorytest::ContentFile;
using repositorytest::ContentFileName;
using repositorytest::PackageInfo;
using testsupport::Exists;
using testsupport::IndexEntry;
using testsupport::InfoFileName;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::WriteFile;

enum class Command { Convert, Install, Download, Uninstall, List };

struct LoopCase {
    Command command;
    FaultKind kind;
};

const char* const CommandNames[] = {"Convert", "Install", "Download", "Uninstall", "List"};

std::string CaseName(const LoopCase& loop) {
    return std::string(CommandNames[static_cast<int>(loop.command)]) + "_" + testsupport::FaultKindName(loop.kind);
}

void PrintTo(const LoopCase& loop, std::ostream* out) { *out << CaseName(loop); }

// Every command takes the lock, reads and syncs the store folder; the others
// also write, rename and force, convert makes packages/ and uninstall
// deletes. A kind that a command must make but no run failed means that the
// seam is not armed, and the loop proved nothing.
bool MustMake(Command command, FaultKind kind) {
    switch (kind) {
        case FaultKind::Open:
        case FaultKind::SyncFolder:
            return true;
        case FaultKind::Lock:
            // list reads the index without the lock.
            return command != Command::List;
        case FaultKind::Write:
        case FaultKind::Rename:
        case FaultKind::Force:
            return command != Command::List;
        case FaultKind::CreateFolder:
            return command == Command::Convert;
        case FaultKind::Delete:
            return command == Command::Uninstall;
    }
    return false;
}

// Under a sanitizer the program runs several times slower: there the opens,
// most of them of the same optional data files, are sampled (the first
// three, then every fourth); every call of the other kinds still fails.
int NextCall(int call, [[maybe_unused]] FaultKind kind) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (kind == FaultKind::Open && call >= 3) {
        return call + 4;
    }
#endif
    return call + 1;
}

// Old is installed in every store; Notes is converted from an archive (and
// shares a file with Old); Maps is downloaded.
const ContentFile OldText{"old.txt", "old\r\n"};
const ContentFile Shared{"shared.ini", "[shared]\r\nSpeed=3\r\n"};
const ContentFile NotesText{"notes.txt", "notes\r\n"};
const ContentFile Field{"field.bin", repositorytest::Pattern(40 * 1024 + 3, 5)};
const ContentFile Readme{"readme.txt", "read me\r\n"};
const std::vector<ContentFile> OldFiles = {OldText, Shared};
const std::vector<ContentFile> NotesFiles = {NotesText, Shared, Field};
const std::vector<ContentFile> MapsFiles = {Readme, Shared, Field};
const std::string OldLine = "Old version 1.0 by Jane Doe\r\n";

// A content file's name begins with the CRC-32 of its bytes; a temporary
// file's ends in ".part".
bool IsContentFileName(const std::string& name) {
    return name.size() > 9 && name.find_first_not_of("0123456789ABCDEF") == 8 && name[8] == '.' &&
           !name.ends_with(".part");
}

class FaultLoopTest : public ::testing::TestWithParam<LoopCase> {
protected:
    void SetUp() override {
        Program = Folder / "Quillbox";
        testsupport::CopyFile(QUILLBOX_FAULTY_EXE, Program);
        std::filesystem::permissions(Program, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
        const std::string root = std::filesystem::canonical(Folder.Path()).string();
        Game = root + "/Ironveil";
        Store = Game + "/Ironveil/mofs";
        if (GetParam().command == Command::Download) {
            Server = std::make_unique<testsupport::HttpServer>(Served.Path(), 3600);
            ASSERT_TRUE(Server->IsRunning()) << "the loopback HTTP server did not start";
            repositorytest::PackageRepository(Served / "repo").Publish("Maps", MapsFiles);
            Url = Server->BaseUrl() + "/repo";
        }
    }

    std::vector<std::string> Arguments() const {
        switch (GetParam().command) {
            case Command::Convert:
                return {"convert", "Notes.mix", "1.0", "Jane Doe"};
            case Command::Install:
                return {"install", "Notes"};
            case Command::Download:
                return {"download", "Maps", Url};
            case Command::Uninstall:
                return {"uninstall", "Notes"};
            case Command::List:
                break;
        }
        return {"list"};
    }

    ProgramResult Run(const std::vector<std::string>& arguments, const std::string& fault = "") const {
        std::vector<std::string> environment = {"HOME=" + Folder.Path(), "QUILLBOX_FAIL_MARKER=" + Marker()};
        if (!fault.empty()) {
            environment.push_back("QUILLBOX_FAIL=" + fault);
        }
        return testsupport::RunProgram(Program, arguments, Folder.Path(), environment);
    }

    std::string Marker() const { return Folder / "fired"; }
    std::string StorePath(const std::string& relative) const { return Store + "/" + relative; }
    std::string StoredFile(const ContentFile& file) const { return StorePath("files/" + ContentFileName(file)); }

    void PutContentFiles(const std::vector<ContentFile>& files) const {
        for (const ContentFile& file : files) {
            WriteFile(StoredFile(file), file.bytes);
        }
    }

    // The store as the command finds it, written from the published formats.
    void PrepareStore() const {
        std::filesystem::remove_all(Game);
        std::filesystem::remove(Marker());
        std::string index = IndexEntry(PackageInfo("Old", OldFiles));
        PutContentFiles(OldFiles);
        const Command command = GetParam().command;
        if (command == Command::Convert) {
            testsupport::MixWriter archive;
            for (const ContentFile& file : NotesFiles) {
                archive.Add(file.name, file.bytes);
            }
            WriteFile(Game + "/FDS/Notes.mix", archive.Build().bytes);
        }
        if (command == Command::Install || command == Command::Uninstall) {
            WriteFile(StorePath("packages/" + InfoFileName("Notes")), PackageInfo("Notes", NotesFiles));
            PutContentFiles(NotesFiles);
        }
        if (command == Command::Uninstall) {
            index += IndexEntry(PackageInfo("Notes", NotesFiles));
        }
        WriteFile(StorePath("packages.dat"), index);
    }

    std::string Listing() const {
        const ProgramResult list = Run({"list"});
        EXPECT_EQ(list.exitCode, 0) << list.err;
        EXPECT_EQ(list.err, "");
        return list.out;
    }

    void ExpectWhole(const std::vector<ContentFile>& files) const {
        for (const ContentFile& file : files) {
            EXPECT_TRUE(ReadFile(StoredFile(file)) == file.bytes) << file.name << " is not whole";
        }
    }

    // What the command reports when it succeeds (convert says nothing).
    std::string Report() const {
        const std::string reports[] = {"", "Package 'Notes' is now installed.\r\n",
                                       "Package 'Maps' was successfully downloaded and installed.\r\n",
                                       "Package 'Notes' is now uninstalled.\r\n",
                                       "The following packages are installed:\r\n" + OldLine};
        return reports[static_cast<int>(GetParam().command)];
    }

    // Download prints its progress before the report.
    void ExpectReport(const ProgramResult& result) const {
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(result.out.ends_with(Report())) << result.out;
        EXPECT_TRUE(GetParam().command == Command::Download || result.out == Report()) << result.out;
    }

    // What a succeeded command leaves, seen through list and the store.
    void ExpectResult() const {
        const std::string listing = Listing();
        const std::string installed = "The following packages are installed:\r\n";
        switch (GetParam().command) {
            case Command::Convert:
                EXPECT_EQ(ReadFile(StorePath("packages/" + InfoFileName("Notes"))),
                          PackageInfo("Notes", NotesFiles, "1.0", "Jane Doe"));
                ExpectWhole(NotesFiles);
                EXPECT_EQ(listing, installed + OldLine);
                break;
            case Command::Install:
                EXPECT_EQ(listing, installed + OldLine + "Notes version 1.0 by Jane Doe\r\n");
                ExpectWhole(NotesFiles);
                break;
            case Command::Download:
                EXPECT_EQ(listing, installed + OldLine + "Maps version 1.0 by Jane Doe\r\n");
                ExpectWhole(MapsFiles);
                break;
            case Command::Uninstall:
            case Command::List:
                EXPECT_EQ(listing, installed + OldLine);
                break;
        }
    }

    // Whatever the fault did: list works and shows Old, Old's files and the
    // files of a package-info file still there are whole, and no content
    // file holds other bytes than its name promises.
    void ExpectSoundStore() const {
        EXPECT_NE(Listing().find(OldLine), std::string::npos);
        ExpectWhole(OldFiles);
        if (Exists(StorePath("packages/" + InfoFileName("Notes")))) {
            ExpectWhole(NotesFiles);
        }
        for (const std::string& name : testsupport::ListFolder(StorePath("files"))) {
            if (IsContentFileName(name)) {
                char crc[16];
                std::snprintf(crc, sizeof crc, "%08X", testsupport::Crc(ReadFile(StorePath("files/" + name))));
                EXPECT_EQ(name.substr(0, 8), crc) << "files/" << name << " does not hold the bytes of its name";
            }
        }
    }

    // A failed download says why in one line, mostly the store call that
    // failed; what the end of the command reports (the index that could not
    // be saved) follows with its own cause.
    void ExpectOneCauseUnderTheFailureLine(const std::string& err) const {
        const std::string failure = "Failed to download package 'Maps' from repository '" + Url + "'.\r\n";
        const size_t at = err.find(failure);
        if (at == std::string::npos) {
            return;  // the command failed before it downloaded (the lock, the index)
        }
        const std::string after = err.substr(at + failure.size());
        const size_t end = after.find("\r\n");
        ASSERT_NE(end, std::string::npos) << "no cause under the failure line: " << err;
        EXPECT_TRUE(end > 1 && after[end - 1] == '.') << "no cause under the failure line: " << err;
        const std::string rest = after.substr(end + 2);
        EXPECT_TRUE(rest.empty() || rest.rfind("Could not save the package index", 0) == 0)
            << "more than one cause under the failure line: " << err;
    }

    // The last line says which call failed on which file of the store, spelled
    // the platform's way, and the system's reason.
    void ExpectCauseLine(const std::string& err) const {
        const size_t start = err.rfind("\r\n", err.size() - 3);
        const std::string cause = err.substr(start == std::string::npos ? 0 : start + 2);
        EXPECT_EQ(cause.rfind("Could not ", 0), 0u) << err;
        const size_t path = cause.find(" '" + testsupport::NativeSpelling(Store));
        EXPECT_NE(path, std::string::npos) << err;
        EXPECT_NE(cause.find(": ", path), std::string::npos) << err;
        EXPECT_TRUE(cause.ends_with(".\r\n")) << err;
    }

    void ExpectOutcome(const ProgramResult& result) const {
        const FaultKind kind = GetParam().kind;
        const bool mustFail = kind == FaultKind::Force || kind == FaultKind::SyncFolder || kind == FaultKind::Lock;
        if (result.exitCode == 0 && !mustFail) {
            ExpectReport(result);
            ExpectResult();
            return;
        }
        EXPECT_EQ(result.exitCode, 1) << "out: " << result.out << "err: " << result.err;
        EXPECT_NE(result.err, "");
        if (GetParam().command == Command::Download) {
            ExpectOneCauseUnderTheFailureLine(result.err);
        }
        if (GetParam().command == Command::Install || GetParam().command == Command::Uninstall) {
            ExpectCauseLine(result.err);
        }
        const bool reported = !Report().empty() && result.out.find(Report()) != std::string::npos;
        // Uninstall reports the package gone once its index is on the disk,
        // and then fails for a cleanup it could not make durable: the report
        // must be true then.
        if (reported && GetParam().command == Command::Uninstall) {
            ExpectResult();
        } else {
            EXPECT_FALSE(reported) << result.out;
        }
    }

    testsupport::TempDir Folder;
    testsupport::TempDir Served;
    std::unique_ptr<testsupport::HttpServer> Server;
    std::string Program;
    std::string Game;
    std::string Store;
    std::string Url;
};

TEST_P(FaultLoopTest, EachCallFailedInTurnEndsInAFailureOrATrueReport) {
    const std::string kind = testsupport::FaultKindName(GetParam().kind);
    int failed = 0;
    for (int call = 1;; call = NextCall(call, GetParam().kind)) {
        PrepareStore();
        const ProgramResult result = Run(Arguments(), kind + ":" + std::to_string(call));
        if (!Exists(Marker())) {
            // No call of that number: the run met no fault at all.
            EXPECT_EQ(result.exitCode, 0) << result.err;
            ExpectReport(result);
            ExpectResult();
            break;
        }
        SCOPED_TRACE(kind + " call " + std::to_string(call) + " failed");
        ++failed;
        ExpectOutcome(result);
        ExpectSoundStore();
        const ProgramResult again = Run(Arguments());
        EXPECT_EQ(again.exitCode, 0) << "run again: " << again.err;
        ExpectResult();
    }
    std::printf("%s: %d %s calls failed in turn\n", Arguments()[0].c_str(), failed, kind.c_str());
    if (MustMake(GetParam().command, GetParam().kind)) {
        EXPECT_GT(failed, 0) << "no " << kind << " call failed: is the seam armed?";
    }
}

std::vector<LoopCase> AllCases() {
    std::vector<LoopCase> cases;
    for (int command = 0; command < 5; ++command) {
        for (int kind = 0; kind < platform::FaultKindCount; ++kind) {
            cases.push_back({static_cast<Command>(command), static_cast<FaultKind>(kind)});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultLoopTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<LoopCase>& info) { return CaseName(info.param); });

}  // namespace
