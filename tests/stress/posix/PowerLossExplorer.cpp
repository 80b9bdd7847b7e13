#include "stress/posix/PowerLossExplorer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "download/PackageRepository.h"
#include "stress/StoreModel.h"
#include "stress/posix/CrashStates.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"
#include "support/TestSupport.h"

namespace stress {

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramResult;

constexpr const char* Top = "Ironveil";
constexpr const char* StorePath = "Ironveil/Ironveil/mofs";
// The local conversions and the maintainer's give the same records, so that
// the download of any listed package finds its files in the repository.
constexpr const char* Version = "1.0";
constexpr const char* Author = "Pat Voss";
constexpr int LimitSeconds = 90;

struct Archive {
    std::string name;
    std::vector<Member> members;
};

enum class Kind { Convert, Install, Download, Uninstall, List };

struct Step {
    Kind kind;
    std::string name;
};

// Each command starts from what the one before left; Basin shares a file
// with Alpine that is already in the store when Basin is downloaded, and
// the uninstall must leave it to Basin.
const Step Scenario[] = {{Kind::Convert, "Alpine"}, {Kind::Install, "Alpine"},   {Kind::Download, "Coast"},
                         {Kind::Download, "Basin"}, {Kind::Uninstall, "Alpine"}, {Kind::List, ""},
                         {Kind::Convert, "Basin"},  {Kind::Download, "Alpine"}};

// Members of 0 bytes to some 200 KB: the larger ones take several writes.
std::vector<Archive> MakeArchives(uint64_t seed) {
    const auto bytes = [&](size_t size, unsigned salt) {
        return repositorytest::Pattern(size, static_cast<unsigned>(seed * 16 + salt));
    };
    const Member shared{"maps\\big.map", bytes(100000, 1)};
    return {{"Alpine", {{"empty.dat", ""}, {"readme.txt", bytes(11, 2)}, {"art\\tiles.shp", bytes(5000, 3)}, shared}},
            {"Basin", {shared, {"music.aud", bytes(200000, 4)}, {"sound/intro.wav", bytes(70000, 5)}}},
            {"Coast", {{"units\\tank.ini", bytes(300, 6)}, {"voices\\a.wav", bytes(5200, 7)}, {"empty.dat", ""}}}};
}

Record RecordOf(const Archive& archive) { return stress::RecordOf(archive.name, Version, Author, archive.members); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Shown(const ProgramResult& result) {
    return "exit " + std::to_string(result.exitCode) + ", out: " + result.out + " err: " + result.err;
}

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

class Explorer {
public:
    explicit Explorer(const PowerLossOptions& options) : Options(options), Random(options.seed) {}

    PowerLossResult Run() {
        Result.failure = SetUp();
        std::set<std::string> installed;
        for (size_t index = 0; index < std::size(Scenario) && Result.failure.empty(); ++index) {
            Result.failure = Explore(index, installed);
            installed = AfterStep(Scenario[index], installed);
        }
        return Result;
    }

private:
    // ---- the program copies, the archives and the repository
    std::string SetUp() {
        Home = fs::canonical(Folder.Path()).string();
        RunHome = fs::canonical(RunFolder.Path()).string();
        Program = Home + "/Quillbox";
        testsupport::CopyFile(Options.program, Program);
        fs::permissions(Program, fs::perms::owner_exec, fs::perm_options::add);
        std::error_code error;
        fs::create_hard_link(Program, RunHome + "/Quillbox", error);
        if (error) testsupport::CopyFile(Program, RunHome + "/Quillbox");
        fs::permissions(RunHome + "/Quillbox", fs::perms::owner_exec, fs::perm_options::add);
        Archives = MakeArchives(Options.seed);
        for (const Archive& archive : Archives) Records[archive.name] = RecordOf(archive);
        // The repository is a maintainer's store, converted by the program
        // itself and copied to the served folder, so that it holds the same
        // records as the local conversions.
        testsupport::TempDir maintainer;
        testsupport::CopyFile(Program, maintainer / "Quillbox");
        fs::permissions(maintainer / "Quillbox", fs::perms::owner_exec, fs::perm_options::add);
        for (const Archive& archive : Archives) {
            testsupport::MixWriter writer;
            for (const Member& member : archive.members) writer.Add(member.name, member.bytes);
            testsupport::WriteFile(ArchivePath(archive.name), writer.Build().bytes);
            const ProgramResult made = testsupport::RunProgram(
                maintainer / "Quillbox", {"convert", ArchivePath(archive.name), Version, Author}, maintainer.Path(),
                {"HOME=" + maintainer.Path()}, LimitSeconds);
            if (made.exitCode != 0) return "set-up: the maintainer's convert failed: " + Shown(made);
        }
        const std::string store = fs::canonical(maintainer.Path()).string() + "/" + StorePath;
        testsupport::MakeFolders(Served / "repo");
        fs::copy(store + "/packages", Served / "repo/packages", fs::copy_options::recursive);
        fs::copy(store + "/files", Served / "repo/files", fs::copy_options::recursive);
        Server = std::make_unique<testsupport::HttpServer>(Served.Path(), 24 * 3600);
        Url = Server->BaseUrl() + "/repo";
        return Server->IsRunning() ? std::string() : "set-up: the loopback HTTP server did not start";
    }

    std::string ArchivePath(const std::string& name) const { return Home + "/archives/" + name + ".mix"; }

    std::vector<std::string> Arguments(const Step& step) const {
        switch (step.kind) {
            case Kind::Convert:
                return {"convert", ArchivePath(step.name), Version, Author};
            case Kind::Install:
                return {"install", step.name};
            case Kind::Download:
                return {"download", step.name, Url};
            case Kind::Uninstall:
                return {"uninstall", step.name};
            case Kind::List:
                break;
        }
        return {"list"};
    }

    static std::string Label(const Step& step) {
        const char* names[] = {"convert", "install", "download", "uninstall", "list"};
        return step.name.empty() ? names[static_cast<int>(step.kind)]
                                 : std::string(names[static_cast<int>(step.kind)]) + " " + step.name;
    }

    // Empty when the run ended as the step succeeds.
    static std::string Failed(const Step& step, const ProgramResult& result) {
        const std::string line = step.kind == Kind::Install     ? "' is now installed."
                                 : step.kind == Kind::Download  ? "' was successfully downloaded and installed."
                                 : step.kind == Kind::Uninstall ? "' is now uninstalled."
                                                                : "";
        if (result.exitCode == 0 && (line.empty() || Contains(result.out, "Package '" + step.name + line))) {
            return std::string();
        }
        return Shown(result);
    }

    ProgramResult RunIn(const std::string& home, const std::vector<std::string>& arguments) const {
        return testsupport::RunProgram(home + "/Quillbox", arguments, home, {"HOME=" + home}, LimitSeconds);
    }

    // ---- one command: its traced run, its crash points and their states
    std::string Explore(size_t index, const std::set<std::string>& installed) {
        const Step& step = Scenario[index];
        const Tree initial = Tree::Read(Home, Top);
        const std::string trace = Home + "/trace.txt";
        std::vector<std::string> arguments{"-f",  "-y",  "-xx",         "-s", "16777216",
                                           "-qq", "-e",  "signal=none", "-e", std::string("trace=") + TracedCalls,
                                           "-o",  trace, Program};
        for (const std::string& argument : Arguments(step)) arguments.push_back(argument);
        // The leak checker of a sanitized build refuses to run under ptrace;
        // the untraced runs of the checks still look for leaks.
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        const std::string noLeaks =
            "ASAN_OPTIONS=" + std::string(sanitizer != nullptr ? sanitizer + std::string(":") : "") + "detect_leaks=0";
        const ProgramResult traced =
            testsupport::RunProgram(Options.strace, arguments, Home, {"HOME=" + Home, noLeaks}, LimitSeconds);
        if (!Failed(step, traced).empty()) return Label(step) + ": the traced run failed: " + Failed(step, traced);
        CrashStates states(Home, Top, Home, initial);
        const std::string error = states.Load(trace);
        if (!error.empty()) {
            const fs::path kept =
                fs::temp_directory_path() / ("quillbox-power-loss-trace-step" + std::to_string(index + 1));
            fs::copy_file(trace, kept, fs::copy_options::overwrite_existing);
            return Label(step) + ": the trace cannot be replayed: " + error + " (the trace is kept in " +
                   kept.string() + ")";
        }
        std::string choices;
        const std::string difference =
            FirstDifference(states.At(states.Calls(), Variant::Whole, Random, choices), Tree::Read(Home, Top));
        if (!difference.empty()) {
            return Label(step) + ": the replayed trace does not give the tree the run left, at " + difference;
        }

        // The end of the run is always checked; of the other points, those
        // after a name change or a sync come first, the rest at random.
        std::vector<std::tuple<int, uint64_t, size_t>> order;
        for (const size_t point : states.CrashPoints())
            order.emplace_back(states.Structural(point) ? 0 : 1, Random(), point);
        std::sort(order.begin(), order.end());
        order.resize(std::min(order.size(), static_cast<size_t>(Options.pointsPerCommand)));
        std::vector<size_t> points;
        for (const auto& [priority, draw, point] : order) points.push_back(point);
        std::sort(points.begin(), points.end());
        points.push_back(states.Calls() + 1);  // after the program exited

        std::set<std::string> required = installed;
        if (step.kind == Kind::Uninstall) required.erase(step.name);
        std::set<uint64_t> seen;
        int unique = 0;
        int found = 0;
        for (const size_t point : points) {
            const bool end = point > states.Calls();
            const size_t at = std::min(point, states.Calls());
            for (int variant = 0; variant < 2 + Options.randomVariants; ++variant) {
                const Variant kind = variant == 0 ? Variant::Classic : variant == 1 ? Variant::Whole : Variant::Random;
                const Tree tree = states.At(at, kind, Random, choices);
                if (!seen.insert(tree.Hash() ^ (end ? 0x9E3779B97F4A7C15ull : 0)).second) continue;
                ++unique;
                tree.Write(RunHome, Top);
                const Finding finding = Check(step, end, end ? AfterStep(step, installed) : required);
                if (finding.check.empty()) continue;
                ++found;
                const std::string where = end ? "after the program exited" : states.Describe(at);
                const char* variants[] = {"classic (unforced name changes kept, unforced data lost)",
                                          "whole (everything kept)", "random"};
                Report(step, index, finding, where,
                       std::string(variants[std::min(variant, 2)]) + (choices.empty() ? "" : ": " + choices), tree);
            }
        }
        Result.commands += 1;
        Result.points += static_cast<int>(points.size());
        Result.states += unique;
        Result.summary += Label(step) + ": " + std::to_string(states.Calls()) + " calls on the store, " +
                          std::to_string(states.CrashPoints().size() + 1) + " crash points, " +
                          std::to_string(points.size()) + " checked, " + std::to_string(unique) + " states, " +
                          std::to_string(found) + " violations\n";
        return std::string();
    }

    static std::set<std::string> AfterStep(const Step& step, std::set<std::string> installed) {
        if (step.kind == Kind::Install || step.kind == Kind::Download) installed.insert(step.name);
        if (step.kind == Kind::Uninstall) installed.erase(step.name);
        return installed;
    }

    // ---- the checks of one state, written to the run folder
    Finding Check(const Step& step, bool end, const std::set<std::string>& required) {
        const std::string store = RunHome + "/" + StorePath;
        {
            ContentCheck content(store);
            const StoreScan scan = StoreScan::Of(store);
            std::vector<Record> index;
            if (!ReadIndex(scan.index, index)) {
                return {"the index does not load", std::to_string(scan.index.size()) + " bytes of packages.dat"};
            }
            // A package-info file gets its name only once what it lists is durable.
            for (const auto& [id, bytes] : scan.infoFiles) {
                Record record;
                if (!ReadRecord(bytes, record)) {
                    return {"a package-info file is not sound",
                            InfoPath(id) + " holds " + std::to_string(bytes.size()) + " bytes"};
                }
                if (const std::string fault = Broken(content, record); !fault.empty()) {
                    return {"a package-info file lists a file that is not whole", InfoPath(id) + ", " + fault};
                }
            }
            // The command reported success: what it did is durable and whole.
            if (end) {
                for (const Record& record : index) {
                    if (const std::string fault = Broken(content, record); !fault.empty()) {
                        return {"a listed package is not whole after a finished command", fault};
                    }
                }
                const bool listed = std::any_of(index.begin(), index.end(),
                                                [&](const Record& record) { return record.name == step.name; });
                if ((step.kind == Kind::Install || step.kind == Kind::Download) && !listed) {
                    return {"the finished command's result is lost", step.name + " is not in the index"};
                }
                if (step.kind == Kind::Uninstall && listed) {
                    return {"the finished command's result is lost", step.name + " is still in the index"};
                }
                const auto info = scan.infoFiles.find(PackageId(step.name));
                Record record;
                if (step.kind == Kind::Convert && (info == scan.infoFiles.end() || !ReadRecord(info->second, record) ||
                                                   !(record == Records.at(step.name)))) {
                    return {"the finished command's result is lost", "the package-info file of " + step.name};
                }
            }
        }
        // What a user runs next.
        const ProgramResult list = RunIn(RunHome, {"list"});
        if (list.exitCode != 0 || Contains(list.err, "Could not read the package index") ||
            Contains(list.err + list.out, "held data that could not be read")) {
            return {"list fails", Shown(list)};
        }
        std::set<std::string> listed;
        std::istringstream lines(list.out);
        for (std::string line; std::getline(lines, line);) {
            if (const size_t at = line.find(" version "); at != line.npos) listed.insert(line.substr(0, at));
        }
        for (const std::string& name : required) {
            if (listed.count(name) == 0) return {"a package is lost", name + " is not listed: " + list.out};
        }
        std::set<std::string> fetch = listed;
        if (step.kind == Kind::Download) fetch.insert(step.name);
        for (const std::string& name : fetch) {
            const Step download{Kind::Download, name};
            const ProgramResult result = RunIn(RunHome, Arguments(download));
            if (!Failed(download, result).empty())
                return {"a download after the crash fails", name + ": " + Shown(result)};
        }
        if (step.kind == Kind::Convert) {
            const ProgramResult result = RunIn(RunHome, Arguments(step));
            if (result.exitCode != 0) return {"the convert after the crash fails", Shown(result)};
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
    void Report(const Step& step, size_t index, const Finding& finding, const std::string& where,
                const std::string& variant, const Tree& tree) {
        ++Result.violations;
        if (!Kinds.insert(Label(step) + finding.check).second) return;
        const std::string kept =
            (fs::temp_directory_path() / ("quillbox-power-loss-seed" + std::to_string(Options.seed) + "-step" +
                                          std::to_string(index + 1) + "-" + std::to_string(Kinds.size())))
                .string();
        fs::remove_all(kept);
        fs::create_directories(kept);
        tree.Write(kept, Top);
        // The calls' paths are told relative to the store; the program's own
        // messages keep their absolute ones.
        std::string text =
            Label(step) + ", " + where + ", variant " + variant + "\n  " + finding.check + ": " + finding.detail;
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
    std::string Home;
    std::string RunHome;
    std::string Program;
    std::string Url;
    std::unique_ptr<testsupport::HttpServer> Server;
    std::vector<Archive> Archives;
    std::map<std::string, Record> Records;  // what converting each archive gives
    std::set<std::string> Kinds;
    PowerLossResult Result;
};

}  // namespace

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
