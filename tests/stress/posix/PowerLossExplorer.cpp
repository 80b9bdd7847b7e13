#include "stress/posix/PowerLossExplorer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "download/PackageRepository.h"
#include "platform/Crypto.h"
#include "stress/StoreModel.h"
#include "stress/posix/CrashStates.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"
#include "support/Openssl.h"
#include "support/ProgramCopy.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

namespace stress {

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramResult;

constexpr const char* Top = "Ironveil";
constexpr const char* StorePath = "Ironveil/Ironveil/mofs";
constexpr const char* FilesPath = "Ironveil/Ironveil/mofs/files";
// The local conversions and the maintainer's give the same records, so that
// the download of any listed package finds its files in the repository.
constexpr const char* Version = "1.0";
constexpr const char* Author = "Pat Voss";
constexpr int LimitSeconds = 90;
// Where the cut download's transfer of the large file drops.
constexpr int64_t CutAt = 100000;

struct Archive {
    std::string name;
    std::vector<Member> members;
};

enum class Kind { Convert, Install, Download, Uninstall, List, Trust, Verify };

struct Step {
    Kind kind;
    std::string name;
    // The serial that the publisher signs before the step, when it is newer
    // than the one published (a signed repository only).
    int64_t serial = 0;
    // The package a content file of which reads as zeros at its size before
    // the step, forced to the disk by someone else.
    std::string zeroed{};
    // A download whose first request of the package's largest file drops
    // after this many bytes: it fails and leaves the part file.
    int64_t cut = 0;
    // A download that must continue the part file the cut one before it
    // left, with a request for the rest that is answered 206; every crash
    // point of its traced run is checked.
    bool resumes = false;
};

struct Scenario {
    const char* name;
    bool linkedFiles;  // files/ is a link to a folder on a second file system
    std::vector<Step> steps;
    // The repository signs its manifest, and its key is what `trust` binds.
    bool signedRepository = false;
    // In every state each content name in files/ stands for whole bytes,
    // listed or not.
    bool wholeNames = false;
};

// Each command starts from what the one before left, and again from what
// kills of the one before left. A command that changes nothing (a list, an
// install of an installed package, a download of a complete one) follows one
// that changes the index or makes folders, whose unforced changes it must not
// report as if they were durable.
const Scenario Scenarios[] = {
    // Basin shares a file with Alpine that is already in the store when Basin
    // is downloaded, and the uninstall must leave it to Basin. Alpine is
    // complete when it is downloaded after its install.
    {"store",
     false,
     {{Kind::Convert, "Alpine"},
      {Kind::Install, "Alpine"},
      {Kind::Download, "Alpine"},
      {Kind::Download, "Coast"},
      {Kind::List, ""},
      {Kind::Download, "Basin"},
      {Kind::Uninstall, "Alpine"},
      {Kind::List, ""},
      {Kind::Convert, "Basin"},
      {Kind::Download, "Alpine"}}},
    // A store that only ever downloaded has no packages/ folder; its
    // uninstall must delete the package's files all the same.
    {"downloaded",
     false,
     {{Kind::Download, "Coast"},
      {Kind::Download, "Coast"},
      {Kind::Download, "Basin"},
      {Kind::Install, "Basin"},
      {Kind::Uninstall, "Coast"},
      {Kind::List, ""}}},
    // Twin lists a.dat and a.dat.part with the same bytes: the content name
    // of one is that of the other with the ending of a file being fetched.
    {"twins", false, {{Kind::Download, "Twin"}, {Kind::Download, "Twin"}, {Kind::Uninstall, "Twin"}}},
    // A force of the store's file system does not reach files/ there.
    {"linked",
     true,
     {{Kind::Convert, "Alpine"}, {Kind::Install, "Alpine"}, {Kind::Download, "Coast"}, {Kind::Uninstall, "Alpine"}}},
    // The store trusts the repository's key; each trusted download keeps the
    // newest signed manifest, the second one after the publisher signed a
    // newer serial. Verify takes a file of Alpine zeroed at its size out of
    // its name, and the next download of Alpine mends it. The last download
    // fetches nothing: no later force covers the newer serial it keeps.
    {"trusted",
     false,
     {{Kind::Trust, ""},
      {Kind::Download, "Alpine", 1},
      {Kind::Download, "Coast", 2},
      {Kind::Verify, "", 0, "Alpine"},
      {Kind::Download, "Alpine"},
      {Kind::Download, "Coast", 3}},
     true},
    // A download cut midway through Basin's largest file leaves its part
    // file; the next one continues it, and the bytes the first run wrote must
    // be on the disk before the file takes its content name.
    {"resumed",
     false,
     {{Kind::Download, "Basin", 0, "", CutAt}, {Kind::Download, "Basin", 0, "", 0, true}, {Kind::List, ""}},
     false,
     true},
};

// Members of 0 bytes to some 200 KB: the larger ones take several writes.
std::vector<Archive> MakeArchives(uint64_t seed) {
    const auto bytes = [&](size_t size, unsigned salt) {
        return repositorytest::Pattern(size, static_cast<unsigned>(seed * 16 + salt));
    };
    const Member shared{"maps\\big.map", bytes(100000, 1)};
    const std::string twin = bytes(6000, 8);
    return {{"Alpine", {{"empty.dat", ""}, {"readme.txt", bytes(11, 2)}, {"art\\tiles.shp", bytes(5000, 3)}, shared}},
            {"Basin", {shared, {"music.aud", bytes(200000, 4)}, {"sound/intro.wav", bytes(70000, 5)}}},
            {"Coast", {{"units\\tank.ini", bytes(300, 6)}, {"voices\\a.wav", bytes(5200, 7)}, {"empty.dat", ""}}},
            {"Twin", {{"a.dat", twin}, {"a.dat.part", twin}, {"notes.txt", bytes(40, 9)}}}};
}

Record RecordOf(const Archive& archive) { return stress::RecordOf(archive.name, Version, Author, archive.members); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Shown(const ProgramResult& result) {
    return "exit " + std::to_string(result.exitCode) + ", out: " + result.out + " err: " + result.err;
}

std::set<std::string> ListedNames(const std::string& out) {
    std::set<std::string> listed;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (const size_t at = line.find(" version "); at != line.npos) listed.insert(line.substr(0, at));
    }
    return listed;
}

// What a command told its user about the store.
struct Told {
    std::set<std::string> listed;   // installed: listed, installed or found installed, downloaded
    std::set<std::string> whole;    // downloaded, so complete
    std::set<std::string> removed;  // uninstalled
    bool converted = false;
    bool trusted = false;   // the key is bound
    bool verified = false;  // the damaged files are out of their names
    bool done = false;      // it did what was asked
};

Told Tell(const Step& step, const ProgramResult& result) {
    Told told;
    // Verify ends with 1 when it found damage, and says so; one that could
    // not take the damaged files away says that too.
    if (step.kind == Kind::Verify) {
        told.done = (result.exitCode == 0 && Contains(result.out, " content files of ")) ||
                    (result.exitCode == 1 && Contains(result.out, "Download their packages again to mend them.\r\n"));
        told.verified = told.done && !Contains(result.err, "Could not remove the damaged content files");
        return told;
    }
    if (result.exitCode != 0) return told;
    const std::string package = "Package '" + step.name + "'";
    switch (step.kind) {
        case Kind::List:
            told.listed = ListedNames(result.out);
            told.done = true;
            break;
        case Kind::Install:
            told.done = Contains(result.out, package + " is now installed.") ||
                        Contains(result.err, "This package has already been installed.");
            if (told.done) told.listed.insert(step.name);
            break;
        case Kind::Download:
            told.done = Contains(result.out, package + " was successfully downloaded and installed.");
            if (told.done) told.listed = told.whole = {step.name};
            break;
        case Kind::Uninstall:
            told.done = Contains(result.out, package + " is now uninstalled.");
            if (told.done) told.removed.insert(step.name);
            break;
        case Kind::Convert:
            told.converted = told.done = true;
            break;
        case Kind::Trust:
            told.trusted = told.done =
                Contains(result.out, "' now trusts the key ") || Contains(result.out, "' already trusts the key ");
            break;
        case Kind::Verify:
            break;
    }
    return told;
}

// What reported commands promise every later state of the store.
struct Lasting {
    bool keyBound = false;  // trust reported: the key is bound
    int64_t serial = 0;     // a trusted download reported: the accepted manifest has at least this serial
    bool clean = false;     // verify reported: no listed name stands for damaged bytes
};

// What a state must hold, besides what every state must.
struct Promise {
    std::set<std::string> required;  // listed, after the crash and after what a user runs next
    std::set<std::string> reported;  // in the index: the command reported it installed
    std::set<std::string> whole;     // in the index and whole: the command reported it downloaded
    std::set<std::string> gone;      // not in the index: the command reported it uninstalled
    bool allWhole = false;           // every package in the index is whole before any repair
    bool converted = false;          // the package-info file is the one converting gives
    bool cleanedUp = false;          // files/ holds only what the index or a package-info file lists
    Lasting lasting{};
};

// The first file of a record that is not whole; empty when all are.
std::string Broken(ContentCheck& content, const Record& record) {
    for (const ListedFile& file : record.files) {
        const std::string fault = content.Verify(ContentPath(file), file.crc, file.size);
        if (!fault.empty()) return "package '" + record.name + "': " + fault;
    }
    return std::string();
}

std::string FirstDifference(const Tree& left, const Tree& right) {
    std::set<std::string> paths(left.folders.begin(), left.folders.end());
    paths.insert(right.folders.begin(), right.folders.end());
    for (const auto& [path, bytes] : left.files) paths.insert(path);
    for (const auto& [path, bytes] : right.files) paths.insert(path);
    for (const std::string& path : paths) {
        const auto one = left.files.find(path);
        const auto two = right.files.find(path);
        if (left.folders.count(path) != right.folders.count(path) ||
            (one == left.files.end()) != (two == right.files.end()) ||
            (one != left.files.end() && one->second != two->second)) {
            return path;
        }
    }
    return std::string();
}

struct Finding {
    std::string check;  // which promise broke
    std::string detail;
};

const Variant Fixed[] = {Variant::Classic, Variant::Whole, Variant::Forced, Variant::Zeroed};
const char* const VariantNames[] = {"classic", "whole", "forced", "zeroed", "random"};
const char* const VariantTexts[] = {"classic (unforced name changes kept, unforced data lost)",
                                    "whole (everything kept)", "forced (only what was forced kept)",
                                    "zeroed (unforced name changes kept, unforced blocks read as zeros)", "random"};

class Explorer {
public:
    explicit Explorer(const PowerLossOptions& options) : Options(options), Random(options.seed) {}

    PowerLossResult Run() {
        Result.failure = SetUp();
        for (const Scenario& scenario : Scenarios) {
            if (!Result.failure.empty()) break;
            if (Options.scenario.empty() || Options.scenario == scenario.name) Result.failure = Run(scenario);
        }
        if (Result.failure.empty() && Result.commands == 0 && Result.skipped.empty()) {
            Result.failure = "there is no scenario '" + Options.scenario + "'";
        }
        return Result;
    }

private:
    // ---- the program copies, the archives and the repository
    std::string SetUp() {
        Home = fs::canonical(Folder.Path()).string();
        RunHome = fs::canonical(RunFolder.Path()).string();
        Program = testsupport::CopyProgramInto(Home, Options.writer.empty() ? Options.program : Options.writer);
        std::error_code error;
        if (Options.writer.empty()) fs::create_hard_link(Program, RunHome + "/Quillbox", error);
        if (!Options.writer.empty() || error) testsupport::CopyProgramInto(RunHome, Options.program);
        Archives = MakeArchives(Options.seed);
        std::vector<std::string> archivePaths;
        for (const Archive& archive : Archives) {
            Records[archive.name] = RecordOf(archive);
            for (const ListedFile& file : Records[archive.name].files) Known[ContentPath(file)] = file;
            testsupport::MixWriter writer;
            for (const Member& member : archive.members) writer.Add(member.name, member.bytes);
            testsupport::WriteFile(ArchivePath(archive.name), writer.Build().bytes);
            archivePaths.push_back(ArchivePath(archive.name));
        }
        // The repository is a maintainer's store, converted by the checked
        // program, so that it holds the same records as the local conversions.
        const auto failed = testsupport::PublishConversions(Options.program, archivePaths, Version, Author,
                                                            Served / "repo", LimitSeconds);
        if (failed) return "set-up: the maintainer's convert failed: " + Shown(*failed);
        Server = std::make_unique<testsupport::HttpServer>(Served.Path(), 24 * 3600);
        Url = Server->BaseUrl() + "/repo";
        return Server->IsRunning() ? std::string() : "set-up: the loopback HTTP server did not start";
    }

    // A memory file system for the linked files/ folders of the traced runs
    // and of the checked states; empty when it is mounted, otherwise why not.
    std::string MountSecond() {
        if (!Second) Second = std::make_unique<testsupport::SmallDisk>(SecondFolder / "disk", 64L << 20);
        if (!Second->IsMounted()) return Second->Failure();
        const std::string root = fs::canonical(SecondFolder / "disk").string();
        testsupport::MakeFolders(root + "/home-files");
        testsupport::MakeFolders(root + "/run-files");
        HomeLinks = {{FilesPath, root + "/home-files"}};
        RunLinks = {{FilesPath, root + "/run-files"}};
        return std::string();
    }

    std::string ArchivePath(const std::string& name) const { return Home + "/archives/" + name + ".mix"; }

    // ---- the signed repository: the same files as the other, a key pair
    // made with the openssl tool and a manifest per serial signed with it
    std::string SetUpSigned() {
        if (!SignedUrl.empty()) return std::string();
        fs::copy(Served / "repo", Served / "signed", fs::copy_options::recursive);
        const std::string keys = Home + "/keys";
        testsupport::MakeFolders(keys);
        PrivateKey = keys + "/key.pem";
        PublicKey = keys + "/public.pem";
        if (!testsupport::MakeSigningKey(PrivateKey, PublicKey) ||
            !testsupport::RunOpensslScript("openssl pkey -pubin -in \"$1\" -outform DER -out \"$2\"",
                                           {PublicKey, keys + "/public.der"})) {
            return "set-up: the openssl tool did not make a key pair";
        }
        SignedUrl = Server->BaseUrl() + "/signed";
        // The store names a repository's files by its URL's SHA-256.
        const std::string name = Sha256Text(SignedUrl).substr(0, 16);
        KeysPath = std::string(StorePath) + "/repositories/" + name + ".keys";
        ManifestPath = std::string(StorePath) + "/repositories/" + name + ".manifest";
        KeysText = SignedUrl + "\n" + HexOf(testsupport::ReadFile(keys + "/public.der")) + "\n";
        return std::string();
    }

    static std::string HexOf(const std::string& bytes) {
        std::string text;
        for (const char byte : bytes) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(byte));
            text += pair;
        }
        return text;
    }

    static std::string Sha256Text(const std::string& bytes) {
        platform::Sha256Digest digest{};
        if (!platform::HashSha256(bytes.data(), bytes.size(), digest)) return std::string(64, '?');
        return HexOf(std::string(digest.begin(), digest.end()));
    }

    // The manifest of every file of the repository with this serial, valid
    // for 30 days, and its signature.
    std::string Publish(int64_t serial) {
        const std::string folder = Served / "signed";
        const std::time_t expires = std::time(nullptr) + 30 * 86400;
        char date[32];
        std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&expires));
        std::string manifest =
            "# Quillbox manifest\n# Serial: " + std::to_string(serial) + "\n# Expires: " + date + "\n";
        for (const std::string part : {"packages", "files"}) {
            for (const std::string& name : testsupport::ListFolder(folder + "/" + part)) {
                manifest += Sha256Text(testsupport::ReadFile(folder + "/" + part + "/" + name)) + "  " + part + "/" +
                            name + "\n";
            }
        }
        testsupport::WriteFile(folder + "/manifest.txt", manifest);
        if (!testsupport::SignFile(PrivateKey, folder + "/manifest.txt", folder + "/manifest.sig")) {
            return "set-up: the openssl tool did not sign the manifest of serial " + std::to_string(serial);
        }
        Published[serial] = manifest;
        return std::string();
    }

    int64_t PublishedSerial() const { return Published.empty() ? 0 : Published.rbegin()->first; }

    bool KeyBound(const Tree& tree) const {
        const auto keys = tree.files.find(KeysPath);
        return Current->signedRepository && keys != tree.files.end() && keys->second == KeysText;
    }

    // The content file that the step zeroes, as a store-relative path; empty
    // when it zeroes none.
    std::string ZeroedPath(const Step& step) const {
        if (step.zeroed.empty()) return std::string();
        for (const ListedFile& file : Records.at(step.zeroed).files) {
            if (file.size > 0) return ContentPath(file);
        }
        return std::string();
    }

    // Zeroes that file in Home, where it is, as durable damage of the model
    // of the run that follows.
    void Zero(const Step& step, CrashStates* states) {
        const std::string path = ZeroedPath(step);
        if (path.empty()) return;
        const std::string inTree = std::string(StorePath) + "/" + path;
        const std::string full = Home + "/" + inTree;
        if (!fs::exists(full)) return;
        const std::string zeros(fs::file_size(full), '\0');
        testsupport::WriteFile(full, zeros);
        if (states != nullptr) states->OverwriteForced(inTree, zeros);
    }

    const std::string& RepositoryUrl() const { return Current->signedRepository ? SignedUrl : Url; }

    std::vector<std::string> Arguments(const Step& step) const {
        switch (step.kind) {
            case Kind::Convert:
                return {"convert", ArchivePath(step.name), Version, Author};
            case Kind::Install:
                return {"install", step.name};
            case Kind::Download:
                return {"download", step.name, RepositoryUrl()};
            case Kind::Uninstall:
                return {"uninstall", step.name};
            case Kind::Trust:
                return {"trust", RepositoryUrl(), PublicKey};
            case Kind::Verify:
                return {"verify"};
            case Kind::List:
                break;
        }
        return {"list"};
    }

    // What the reports of the step add to what earlier ones promise; a
    // download is trusted when the key was bound in the store it ran on.
    Lasting After(const Step& step, const Told& told, bool keyWasBound, Lasting lasting) const {
        lasting.keyBound = lasting.keyBound || told.trusted;
        if (step.kind == Kind::Download && told.done && keyWasBound) {
            lasting.serial = std::max(lasting.serial, PublishedSerial());
        }
        lasting.clean = lasting.clean || told.verified;
        return lasting;
    }

    static std::string Label(const Step& step) {
        const char* names[] = {"convert", "install", "download", "uninstall", "list", "trust", "verify"};
        return step.name.empty() ? names[static_cast<int>(step.kind)]
                                 : std::string(names[static_cast<int>(step.kind)]) + " " + step.name;
    }

    ProgramResult RunIn(const std::string& home, const std::vector<std::string>& arguments) const {
        return testsupport::RunProgram(home + "/Quillbox", arguments, home, {"HOME=" + home}, LimitSeconds);
    }

    // The package's largest file, the one a cut download drops in.
    const ListedFile& LargestFile(const std::string& name) const {
        const std::vector<ListedFile>& files = Records.at(name).files;
        return *std::max_element(files.begin(), files.end(),
                                 [](const ListedFile& one, const ListedFile& two) { return one.size < two.size; });
    }

    std::string ServedPath(const ListedFile& file) const { return Served / "repo" + "/" + ContentPath(file); }

    std::string ServerLog() const { return LogPath.empty() ? std::string() : testsupport::ReadFile(LogPath); }

    // ---- one scenario: each command from the state the one before left
    std::string Run(const Scenario& scenario) {
        LogPath.clear();
        for (const Step& step : scenario.steps) {
            if (step.cut > 0) LogPath = ServedPath(LargestFile(step.name)) + ".log";
        }
        if (!LogPath.empty()) testsupport::WriteFile(LogPath, "");
        const std::string failure = RunSteps(scenario);
        // The signed repository is a copy of this one: no log goes along.
        if (!LogPath.empty()) fs::remove(LogPath);
        LogPath.clear();
        return failure;
    }

    std::string RunSteps(const Scenario& scenario) {
        Current = &scenario;
        HomeLinks.clear();
        RunLinks.clear();
        Tree start;
        if (scenario.linkedFiles) {
            const std::string refusal = MountSecond();
            if (!refusal.empty()) {
                Result.skipped += std::string(scenario.name) + ": " + refusal + "\n";
                return std::string();
            }
            start.folders = {Top, "Ironveil/Ironveil", StorePath, FilesPath};
        }
        if (scenario.signedRepository) {
            if (const std::string failure = SetUpSigned(); !failure.empty()) return failure;
        }
        start.Write(Home, Top, HomeLinks);
        std::set<std::string> before;
        std::set<std::string> installed;
        Floor = FloorBefore = Lasting();
        std::unique_ptr<CrashStates> previous;
        for (size_t index = 0; index < scenario.steps.size(); ++index) {
            const Step& step = scenario.steps[index];
            std::string failure = step.serial > PublishedSerial() ? Publish(step.serial) : std::string();
            Zero(step, nullptr);
            const Tree initial = Tree::Read(Home, Top);
            if (previous && failure.empty()) {
                failure = ExploreAfterKills(index, *previous, before, installed);
                initial.Write(Home, Top, HomeLinks);
            }
            auto states = std::make_unique<CrashStates>(Home, Top, Home, initial, HomeLinks);
            if (failure.empty()) failure = Explore(index, *states, installed, KeyBound(initial));
            if (!failure.empty()) return std::string(scenario.name) + ": " + failure;
            before = installed;
            installed = AfterStep(step, installed);
            FloorBefore = Floor;
            Floor = NextFloor;
            previous = std::move(states);
        }
        return std::string();
    }

    static std::set<std::string> AfterStep(const Step& step, std::set<std::string> installed) {
        if (step.kind == Kind::Install || (step.kind == Kind::Download && step.cut == 0)) installed.insert(step.name);
        if (step.kind == Kind::Uninstall) installed.erase(step.name);
        return installed;
    }

    // Runs the step under strace in Home and appends its calls to `states`;
    // empty when the model replays them to the tree the run left.
    std::string Trace(size_t index, CrashStates& states, ProgramResult& traced) {
        const Step& step = Current->steps[index];
        const std::string trace = Home + "/trace.txt";
        std::vector<std::string> arguments{"-f",       "-y",       "-xx",  "-s",
                                           "16777216", "-qq",      "-e",   "signal=none",
                                           "-e",       "raw=read", "-e",   std::string("trace=") + TracedCalls,
                                           "-o",       trace,      Program};
        for (const std::string& argument : Arguments(step)) arguments.push_back(argument);
        // The leak checker of a sanitized build refuses to run under ptrace;
        // the untraced runs of the checks still look for leaks.
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        const std::string noLeaks =
            "ASAN_OPTIONS=" + std::string(sanitizer != nullptr ? sanitizer + std::string(":") : "") + "detect_leaks=0";
        // Only the traced run is cut: the downloads that check its states
        // must be able to fetch the file.
        const std::string fault = step.cut > 0 ? ServedPath(LargestFile(step.name)) + ".fault" : std::string();
        if (!fault.empty()) testsupport::WriteFile(fault, "cut " + std::to_string(step.cut));
        const size_t logged = ServerLog().size();
        traced = testsupport::RunProgram(Options.strace, arguments, Home, {"HOME=" + Home, noLeaks}, LimitSeconds);
        if (!fault.empty()) fs::remove(fault);
        Requests = ServerLog().substr(logged);
        const std::string error = states.Load(trace);
        if (!error.empty()) {
            const fs::path kept =
                fs::temp_directory_path() /
                ("quillbox-power-loss-trace-" + std::string(Current->name) + "-step" + std::to_string(index + 1));
            fs::copy_file(trace, kept, fs::copy_options::overwrite_existing);
            return "the trace cannot be replayed: " + error + " (the trace is kept in " + kept.string() + ")";
        }
        std::string choices;
        const std::string difference =
            FirstDifference(states.At(states.Calls(), Variant::Whole, Random, choices), Tree::Read(Home, Top));
        if (!difference.empty()) return "the replayed trace does not give the tree the run left, at " + difference;
        return std::string();
    }

    // The end of the run is always checked; of the other points, those after
    // a name change or a sync come first, the rest at random.
    std::vector<size_t> Choose(const CrashStates& states, int limit) {
        std::vector<std::tuple<int, uint64_t, size_t>> order;
        for (const size_t point : states.CrashPoints())
            order.emplace_back(states.Structural(point) ? 0 : 1, Random(), point);
        std::sort(order.begin(), order.end());
        order.resize(std::min(order.size(), static_cast<size_t>(limit)));
        std::vector<size_t> points;
        for (const auto& [priority, draw, point] : order) points.push_back(point);
        std::sort(points.begin(), points.end());
        points.push_back(states.Calls() + 1);  // after the program exited
        return points;
    }

    // ---- one command: its traced run, its crash points and their states
    std::string Explore(size_t index, CrashStates& states, const std::set<std::string>& installed, bool keyWasBound) {
        const Step& step = Current->steps[index];
        ProgramResult traced;
        if (const std::string failure = Trace(index, states, traced); !failure.empty()) {
            return Label(step) + ": " + failure;
        }
        const Told told = Tell(step, traced);
        if (const std::string failure = TracedRunFault(index, traced, told); !failure.empty()) {
            return Label(step) + ": " + failure;
        }
        Promise during;
        during.required = installed;
        if (step.kind == Kind::Uninstall) during.required.erase(step.name);
        during.lasting = Floor;
        // Verify leaves the package of a file it took away incomplete, and a
        // cut download the package it fetched.
        Promise after{AfterStep(step, installed),
                      told.listed,
                      told.whole,
                      told.removed,
                      step.kind != Kind::Verify && step.cut == 0,
                      told.converted,
                      !told.removed.empty()};
        NextFloor = after.lasting = After(step, told, keyWasBound, Floor);
        const int limit = step.resumes ? std::numeric_limits<int>::max() : Options.pointsPerCommand;
        const std::vector<size_t> points = Choose(states, limit);
        const auto [unique, found] = CheckStates(index, states, points, during, after, std::string());
        Result.commands += 1;
        Result.points += static_cast<int>(points.size());
        Result.states += unique;
        Result.summary += std::string(Current->name) + ": " + Label(step) + ": " + std::to_string(states.Calls()) +
                          " calls on the store, " + std::to_string(states.CrashPoints().size() + 1) +
                          " crash points, " + std::to_string(points.size()) + " checked, " + std::to_string(unique) +
                          " states, " + std::to_string(found) + " violations\n";
        if (step.resumes) Result.summary += std::string(Current->name) + ": the server logged: " + Requests;
        return std::string();
    }

    // Whether the traced run ended as the step expects: a cut download fails
    // and leaves the part file of the bytes it got, the download after it
    // asks for the rest, every other command does what was asked.
    std::string TracedRunFault(size_t index, const ProgramResult& traced, const Told& told) const {
        const Step& step = Current->steps[index];
        if (step.cut > 0) {
            const std::string part = Home + "/" + StorePath + "/" + ContentPath(LargestFile(step.name)) + ".part";
            std::error_code error;
            if (traced.exitCode != 1 || !Contains(traced.err, "Failed to download package '" + step.name + "'")) {
                return "the cut download did not fail: " + Shown(traced);
            }
            if (fs::file_size(part, error) != static_cast<uintmax_t>(step.cut) || error) {
                return "the cut download left no part file of " + std::to_string(step.cut) + " bytes";
            }
            return std::string();
        }
        if (!told.done) return "the traced run failed: " + Shown(traced);
        if (step.resumes && !ContinuedPartFile(index)) {
            return "the traced run did not continue the part file; the server logged: " + Requests;
        }
        if (const std::string zeroed = ZeroedPath(step);
            !zeroed.empty() && !Contains(traced.out, "Damaged: " + zeroed)) {
            return "the traced run did not find the zeroed " + zeroed + ": " + Shown(traced);
        }
        return std::string();
    }

    // Whether the server answered the traced run's request for the rest of
    // what the step before it cut with 206.
    bool ContinuedPartFile(size_t index) const {
        return index > 0 &&
               Contains("\n" + Requests, "\nbytes=" + std::to_string(Current->steps[index - 1].cut) + "- 206 ");
    }

    // The command runs on what kills of the command before it left, whose
    // unforced changes stay pending in the model: what it reports must
    // survive a power loss all the same.
    std::string ExploreAfterKills(size_t index, const CrashStates& previous, const std::set<std::string>& before,
                                  const std::set<std::string>& installed) {
        const Step& killed = Current->steps[index - 1];
        const Step& step = Current->steps[index];
        // A kill that leaves a rename or a new folder pending first: a later
        // command finds them in place and may take them for durable. A
        // download that continues a part file runs first where the cut one
        // ended, the bytes it got not yet forced.
        std::vector<std::tuple<int, uint64_t, size_t>> order;
        const std::vector<size_t> kills = previous.KillPoints();
        for (const size_t point : kills) {
            const bool atEnd = step.resumes && point == kills.back();
            order.emplace_back(atEnd ? -1 : previous.PendsRenameOrFolder(point) ? 0 : 1, Random(), point);
        }
        std::sort(order.begin(), order.end());
        order.resize(std::min(order.size(), static_cast<size_t>(Options.killPoints)));
        // The killed command may or may not have done its change.
        std::set<std::string> base;
        for (const std::string& name : before) {
            if (installed.count(name) != 0) base.insert(name);
        }
        int unique = 0;
        int found = 0;
        int checked = 0;
        for (const auto& [priority, draw, point] : order) {
            std::string choices;
            const Tree left = previous.At(point, Variant::Whole, Random, choices);
            left.Write(Home, Top, HomeLinks);
            CrashStates states = previous.KilledAt(point);
            Zero(step, &states);
            ProgramResult traced;
            if (const std::string failure = Trace(index, states, traced); !failure.empty()) {
                return Label(step) + " after a kill of " + Label(killed) + ": " + failure;
            }
            const std::string kill = "after a kill of " + Label(killed) + " " + previous.Describe(point);
            const Told told = Tell(step, traced);
            // What a kill leaves, a download or convert completes; an install
            // may find no package-info file yet.
            const bool mustSucceed = (step.kind == Kind::Download && step.cut == 0) || step.kind == Kind::Convert ||
                                     step.kind == Kind::List || step.kind == Kind::Verify;
            if ((traced.exitCode != 0 && traced.exitCode != 1) || (mustSucceed && !told.done)) {
                ++found;
                Report(index, {"the command fails after a kill", Shown(traced)}, kill, "whole", VariantTexts[1], left);
                continue;
            }
            Promise during;
            during.required = base;
            if (step.kind == Kind::Uninstall) during.required.erase(step.name);
            during.lasting = FloorBefore;
            Promise after{base, told.listed, told.whole, told.removed, false, told.converted, !told.removed.empty()};
            after.lasting = After(step, told, KeyBound(left), FloorBefore);
            after.required.insert(told.listed.begin(), told.listed.end());
            for (const std::string& name : told.removed) after.required.erase(name);
            const std::vector<size_t> points = Choose(states, Options.pointsAfterKill);
            const auto [distinct, violations] = CheckStates(index, states, points, during, after, kill);
            unique += distinct;
            found += violations;
            checked += static_cast<int>(points.size());
        }
        if (order.empty()) return std::string();
        Result.kills += static_cast<int>(order.size());
        Result.points += checked;
        Result.states += unique;
        Result.summary += std::string(Current->name) + ": " + Label(step) + " after " + std::to_string(order.size()) +
                          " of " + std::to_string(previous.KillPoints().size()) + " kills of " + Label(killed) + ": " +
                          std::to_string(checked) + " crash points checked, " + std::to_string(unique) + " states, " +
                          std::to_string(found) + " violations\n";
        return std::string();
    }

    // Checks the states of the chosen points; gives the number of distinct
    // states and of violations.
    std::pair<int, int> CheckStates(size_t index, const CrashStates& states, const std::vector<size_t>& points,
                                    const Promise& during, const Promise& after, const std::string& kill) {
        std::set<uint64_t> seen;
        int unique = 0;
        int found = 0;
        std::string choices;
        for (const size_t point : points) {
            const bool end = point > states.Calls();
            const size_t at = std::min(point, states.Calls());
            for (int variant = 0; variant < static_cast<int>(std::size(Fixed)) + Options.randomVariants; ++variant) {
                const bool random = variant >= static_cast<int>(std::size(Fixed));
                const Variant kind = random ? Variant::Random : Fixed[variant];
                if (kind == Variant::Zeroed && !Options.zeroedVariant) continue;
                const Tree tree = states.At(at, kind, Random, choices);
                if (!seen.insert(tree.Hash() ^ (end ? 0x9E3779B97F4A7C15ull : 0)).second) continue;
                ++unique;
                tree.Write(RunHome, Top, RunLinks);
                Promise promise = end ? after : during;
                // Only the variants that keep every name change show the names
                // the program left.
                promise.cleanedUp = promise.cleanedUp && !random && kind != Variant::Forced;
                // A state that breaks a promise is recovered all the same:
                // whether a user's next commands mend it is a finding of its own.
                const Finding left = CheckLeft(Current->steps[index], promise);
                const Finding recovered = CheckRecovery(Current->steps[index], promise);
                for (const Finding& finding : {left, recovered}) {
                    if (finding.check.empty()) continue;
                    ++found;
                    const int shown = random ? static_cast<int>(std::size(Fixed)) : variant;
                    const std::string where = end ? "after the program exited" : states.Describe(at);
                    Report(index, finding, kill.empty() ? where : kill + ", then " + where, VariantNames[shown],
                           std::string(VariantTexts[shown]) + (choices.empty() ? "" : ": " + choices), tree);
                }
            }
        }
        return {unique, found};
    }

    // ---- the checks of one state, written to the run folder: as it was left
    Finding CheckLeft(const Step& step, const Promise& promise) {
        const std::string store = RunHome + "/" + StorePath;
        ContentCheck content(store);
        const StoreScan scan = StoreScan::Of(store);
        std::vector<Record> index;
        if (!ReadIndex(scan.index, index)) {
            return {"the index does not load", std::to_string(scan.index.size()) + " bytes of packages.dat"};
        }
        // A package-info file gets its name only once what it lists is durable.
        std::vector<Record> listing = index;
        for (const auto& [id, bytes] : scan.infoFiles) {
            Record record;
            if (!ReadRecord(bytes, record)) {
                return {"a package-info file is not sound",
                        InfoPath(id) + " holds " + std::to_string(bytes.size()) + " bytes"};
            }
            if (const std::string fault = Broken(content, record); !fault.empty()) {
                return {"a package-info file lists a file that is not whole", InfoPath(id) + ", " + fault};
            }
            listing.push_back(record);
        }
        if (const Finding names = CheckNames(content, scan); !names.check.empty()) return names;
        // What the command reported is durable and whole.
        const auto find = [&](const std::string& name) {
            return std::find_if(index.begin(), index.end(), [&](const Record& record) { return record.name == name; });
        };
        if (promise.allWhole) {
            for (const Record& record : index) {
                if (const std::string fault = Broken(content, record); !fault.empty()) {
                    return {"a listed package is not whole after a finished command", fault};
                }
            }
        }
        for (const std::string& name : promise.reported) {
            if (find(name) == index.end()) {
                return {"the finished command's result is lost", name + " is not in the index"};
            }
        }
        for (const std::string& name : promise.whole) {
            if (find(name) == index.end()) continue;  // told above
            if (const std::string fault = Broken(content, *find(name)); !fault.empty()) {
                return {"the finished command's result is not whole", fault};
            }
        }
        for (const std::string& name : promise.gone) {
            if (find(name) != index.end()) {
                return {"the finished command's result is lost", name + " is still in the index"};
            }
        }
        const auto info = scan.infoFiles.find(PackageId(step.name));
        Record record;
        if (promise.converted &&
            (info == scan.infoFiles.end() || !ReadRecord(info->second, record) || !(record == Records.at(step.name)))) {
            return {"the finished command's result is lost", "the package-info file of " + step.name};
        }
        if (const Finding trust = CheckTrust(promise.lasting, content, listing); !trust.check.empty()) return trust;
        if (promise.cleanedUp) {
            const std::vector<std::string> left = scan.Unlisted(listing);
            if (!left.empty()) {
                return {"the uninstall left files nothing lists",
                        left.front() + (left.size() > 1 ? " and " + std::to_string(left.size() - 1) + " more" : "")};
            }
        }
        return {};
    }

    // A content name is given only once the file's bytes are on the disk,
    // whether or not anything lists it yet.
    Finding CheckNames(ContentCheck& content, const StoreScan& scan) const {
        if (!Current->wholeNames) return {};
        for (const std::string& name : scan.contentNames) {
            const auto known = Known.find("files/" + name);
            if (known == Known.end()) continue;
            if (const std::string fault = content.Verify(known->first, known->second.crc, known->second.size);
                !fault.empty()) {
                return {"a content name stands for bytes that are not whole", fault};
            }
        }
        return {};
    }

    // The store's trust in the signed repository: a list of keys and an
    // accepted manifest are whole when they are there, and what trust, a
    // trusted download and verify reported holds.
    Finding CheckTrust(const Lasting& lasting, ContentCheck& content, const std::vector<Record>& listing) const {
        if (!Current->signedRepository) return {};
        const std::string keys = RunHome + "/" + KeysPath;
        if (fs::exists(keys) && testsupport::ReadFile(keys) != KeysText) {
            return {"the trusted keys are not whole", KeysPath + " holds " + testsupport::ReadFile(keys)};
        }
        if (lasting.keyBound && !fs::exists(keys)) return {"the reported trust is lost", KeysPath + " is missing"};
        const std::string manifest = RunHome + "/" + ManifestPath;
        int64_t serial = 0;
        if (fs::exists(manifest)) {
            const std::string bytes = testsupport::ReadFile(manifest);
            for (const auto& [published, text] : Published) serial = text == bytes ? published : serial;
            if (serial == 0) {
                return {"the accepted manifest is not whole",
                        ManifestPath + " holds " + std::to_string(bytes.size()) + " bytes that no manifest has"};
            }
        }
        if (serial < lasting.serial) {
            return {"an older manifest is back after a trusted download",
                    "the store holds serial " + std::to_string(serial) + " after serial " +
                        std::to_string(lasting.serial) + " was reported"};
        }
        if (!lasting.clean) return {};
        for (const Record& record : listing) {
            for (const ListedFile& file : record.files) {
                const std::string path = ContentPath(file);
                if (!fs::exists(RunHome + "/" + StorePath + "/" + path)) continue;
                if (const std::string fault = content.Verify(path, file.crc, file.size); !fault.empty()) {
                    return {"a name in files/ stands for damaged bytes after verify",
                            "package '" + record.name + "': " + fault};
                }
            }
        }
        return {};
    }

    // What a user runs next, and what it leaves.
    Finding CheckRecovery(const Step& step, const Promise& promise) {
        const std::string store = RunHome + "/" + StorePath;
        const ProgramResult list = RunIn(RunHome, {"list"});
        if (list.exitCode != 0 || Contains(list.err, "Could not read the package index") ||
            Contains(list.err + list.out, "held data that could not be read")) {
            return {"list fails", Shown(list)};
        }
        const std::set<std::string> listed = ListedNames(list.out);
        for (const std::string& name : promise.required) {
            if (listed.count(name) == 0) return {"a package is lost", name + " is not listed: " + list.out};
        }
        if (step.kind == Kind::Trust) {
            const ProgramResult result = RunIn(RunHome, Arguments(step));
            if (!Tell(step, result).done) return {"the trust after the crash fails", Shown(result)};
        }
        std::set<std::string> fetch = listed;
        if (step.kind == Kind::Download) fetch.insert(step.name);
        for (const std::string& name : fetch) {
            const Step download{Kind::Download, name};
            const ProgramResult result = RunIn(RunHome, Arguments(download));
            if (!Tell(download, result).done) return {"a download after the crash fails", name + ": " + Shown(result)};
        }
        if (step.kind == Kind::Convert) {
            const ProgramResult result = RunIn(RunHome, Arguments(step));
            if (result.exitCode != 0) return {"the convert after the crash fails", Shown(result)};
        }
        // The downloads mended what verify took away.
        if (step.kind == Kind::Verify) {
            const ProgramResult result = RunIn(RunHome, Arguments(step));
            if (result.exitCode != 0) return {"verify finds damage after the downloads", Shown(result)};
        }
        ContentCheck content(store);
        const StoreScan scan = StoreScan::Of(store);
        std::vector<Record> index;
        if (!ReadIndex(scan.index, index)) return {"the index does not load after recovery", ""};
        for (const Record& record : index) {
            if (const std::string fault = Broken(content, record); !fault.empty()) {
                return {"a listed package is not whole after recovery", fault};
            }
        }
        for (const auto& [id, bytes] : scan.infoFiles) {
            Record record;
            const std::string fault = ReadRecord(bytes, record) ? Broken(content, record) : "it is not sound";
            if (!fault.empty()) return {"a package-info file is broken after recovery", InfoPath(id) + ", " + fault};
        }
        return {};
    }

    // The first violation of each kind per command is told in full, with
    // the state kept for inspection; the others are counted.
    void Report(size_t index, const Finding& finding, const std::string& where, const char* variantName,
                const std::string& variant, const Tree& tree) {
        ++Result.violations;
        ++Result.tally[finding.check + " (" + variantName + ")"];
        const Step& step = Current->steps[index];
        const std::string after = Contains(where, "after a kill") ? " after a kill" : "";
        if (!Kinds.insert(std::string(Current->name) + std::to_string(index) + after + finding.check).second) return;
        const std::string kept = (fs::temp_directory_path() /
                                  ("quillbox-power-loss-seed" + std::to_string(Options.seed) + "-" + Current->name +
                                   "-step" + std::to_string(index + 1) + "-" + std::to_string(Kinds.size())))
                                     .string();
        fs::remove_all(kept);
        fs::create_directories(kept);
        tree.Write(kept, Top);
        // The calls' paths are told relative to the store; the program's own
        // messages keep their absolute ones.
        std::string text = std::string(Current->name) + ": " + Label(step) + ", " + where + ", variant " + variant +
                           "\n  " + finding.check + ": " + finding.detail;
        const std::string prefix = std::string(StorePath) + "/";
        for (size_t at = text.find(prefix); at != text.npos; at = text.find(prefix, at + 1)) {
            if (at > 0 && text[at - 1] == ' ') text.erase(at, prefix.size());
        }
        text += "\n  the state is kept in " + kept + "/" + StorePath;
        Result.reports.push_back(text);
    }

    PowerLossOptions Options;
    std::mt19937_64 Random;
    testsupport::TempDir Folder;
    testsupport::TempDir RunFolder;
    testsupport::TempDir Served;
    testsupport::TempDir SecondFolder;
    // Unmounted before its folder goes.
    std::unique_ptr<testsupport::SmallDisk> Second;
    Links HomeLinks;
    Links RunLinks;
    const Scenario* Current = nullptr;
    std::string Home;
    std::string RunHome;
    std::string Program;
    std::string Url;
    std::unique_ptr<testsupport::HttpServer> Server;
    // The signed repository and the store's files of its trust.
    std::string SignedUrl;
    std::string PrivateKey;
    std::string PublicKey;
    std::string KeysPath;  // tree-relative
    std::string ManifestPath;
    std::string KeysText;                      // the list of keys that trust writes
    std::map<int64_t, std::string> Published;  // the manifests by serial
    Lasting Floor;                             // what the steps before the current one promise
    Lasting FloorBefore;                       // the same before the step before it
    Lasting NextFloor;                         // the same after the current one
    std::vector<Archive> Archives;
    std::map<std::string, Record> Records;    // what converting each archive gives
    std::map<std::string, ListedFile> Known;  // the files of every record by content path
    std::string LogPath;                      // the server's log of the cut file; empty when none is cut
    std::string Requests;                     // what that log gained during the last traced run
    std::set<std::string> Kinds;
    PowerLossResult Result;
};

}  // namespace

std::vector<std::string> PowerLossScenarios() {
    std::vector<std::string> names;
    for (const Scenario& scenario : Scenarios) names.emplace_back(scenario.name);
    return names;
}

std::string FindStrace() {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/strace";
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::string();
}

std::string TraceRefusal(const std::string& strace) {
    const ProgramResult probe = testsupport::RunProgram(strace, {"-qq", "-o", "/dev/null", "/bin/true"}, "/", {}, 30);
    return probe.exitCode == 0 ? std::string() : "strace cannot trace here: " + probe.err;
}

PowerLossResult ExplorePowerLoss(const PowerLossOptions& options) {
    auto explorer = std::make_unique<Explorer>(options);
    return explorer->Run();
}

}  // namespace stress
