#include "stress/StressDriver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "download/PackageRepository.h"
#include "stress/StoreModel.h"
#include "support/ChildProcess.h"
#include "support/HttpServer.h"
#include "support/MixWriter.h"
#include "support/ProgramCopy.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

namespace stress {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testsupport::ProgramResult;

// A program start under Wine takes some hundred milliseconds.
#ifdef _WIN32
constexpr double TimeScale = 3;
#else
constexpr double TimeScale = 1;
#endif
// The program gives up a silent server after 60 s; no step of a sound run
// comes near that.
constexpr int StepLimitSeconds = 90;
constexpr long DiskSize = 96L << 20;
constexpr int KeptSteps = 12;
constexpr int OpeningSteps = 20;
const char* const LocalVersions[][2] = {{"1.0", "Jane Doe"}, {"2.1", "Sam Roe"}};

struct Archive {
    std::string name;  // the package it gives
    std::vector<Member> members;
    bool local = true;      // in the archives folder of the user
    bool published = true;  // in the repository
};

Record RecordOf(const Archive& archive, const char* version, const char* author) {
    return stress::RecordOf(archive.name, version, author, archive.members);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Sizes from 0 bytes to a few MiB, most of them small.
size_t MemberSize(std::mt19937_64& random) {
    const int kind = static_cast<int>(random() % 20);
    if (kind < 2) return 0;
    if (kind < 10) return random() % 1000;
    if (kind < 16) return 1000 + random() % 64000;
    if (kind < 19) return 64000 + random() % 500000;
    return (1u << 20) + random() % (2u << 20);
}

enum class Ended { Success, NoChange, Failure, Killed, Unexpected };
enum class Source { Good, Faulty, Wrong, Stalled };

const char* const FailureTexts[] = {"Could not open file '",
                                    "does not describe package '",
                                    "Could not save the package index",
                                    "Could not read the package index",
                                    "Failed to download package '",
                                    "Failed to open input file",
                                    "Failed to open file.",
                                    "Failed to open output file"};

class Driver {
public:
    explicit Driver(const StressOptions& options, const FixedCase* fixedCase = nullptr)
        : Options(options), Fixed(fixedCase), Random(options.seed) {
        if (Fixed != nullptr) Options.steps = static_cast<int>(Fixed->steps.size());
    }

    StressResult Run() {
        StressResult result;
        result.violation = SetUp();
        result.skipped = Skipped;
        if (result.violation.empty() && NeedsMissingDisk()) return result;
        const auto deadline = Clock::now() + std::chrono::seconds(Options.seconds);
        while (result.violation.empty() && (Options.steps == 0 || Step < Options.steps) &&
               (Options.seconds == 0 || Clock::now() < deadline)) {
            ++Step;
            result.violation = Fixed != nullptr ? FixedStepRun(Fixed->steps[Step - 1]) : OneStep();
            if (!result.violation.empty()) {
                result.violation = Report(result.violation);
            }
        }
        result.steps = Step;
        for (const auto& [what, count] : Counts) result.summary += what + " " + std::to_string(count) + ", ";
        return result;
    }

private:
    // ---- set-up: the archives, the repository, the sibling folder, the disk
    std::string SetUp() {
        const char* other = std::getenv("QUILLBOX_STRESS_PROGRAM");
        Program = testsupport::CopyProgramInto(Folder.Path(), other != nullptr ? other : QUILLBOX_EXE);
        const std::string base = fs::canonical(Folder.Path()).string() + "/Ironveil/Ironveil";
        Store = base + "/mofs";
        Content = std::make_unique<ContentCheck>(Store);
        Disk = std::make_unique<testsupport::SmallDisk>(base, DiskSize);
        if (!Disk->IsMounted()) {
            Skipped = "the nearly full disk is left out: " + Disk->Failure();
        }
        Filler = base + "/filler";
        if (Fixed != nullptr) {
            MakeFixedArchives();
        } else {
            MakeArchives();
        }
        MakeSibling();
        return Publish();
    }

    void MakeArchives() {
        const char* names[] = {"rules.ini",     "Art\\Tiles.shp",  "maps\\field.map", "sound/intro.wav",
                               "readme.txt",    "empty.dat",       "Maps\\Big.map",   "music.aud",
                               "credits.txt",   "units\\tank.ini", "Units\\Tank.shp", "rules.ini",
                               "voices\\a.wav", "maps\\hill.map",  "Readme.TXT",      "palette.pal"};
        std::vector<Member> pool;
        for (const char* name : names) {
            pool.push_back({name, repositorytest::Pattern(MemberSize(Random), static_cast<unsigned>(Random()))});
        }
        pool[6].bytes = repositorytest::Pattern((1u << 20) + Random() % (2u << 20), 6);
        const char* packages[] = {"Maps",   "Arena",  "Forest", "Desert", "Tundra",
                                  "Harbor", "Canyon", "Hollow", "Valley", "Summit"};
        for (int index = 0; index < 10; ++index) {
            Archive archive{packages[index], {}, index < 8, index < 6 || index >= 8};
            const int count = index == 7 ? 0 : 1 + static_cast<int>(Random() % 5);
            for (int pick = 0; pick < count; ++pick) {
                const Member& member = pool[Random() % pool.size()];
                const auto sameName = [&](const Member& other) {
                    return PackageId(other.name) == PackageId(member.name);
                };
                if (std::none_of(archive.members.begin(), archive.members.end(), sameName)) {
                    archive.members.push_back(member);
                }
            }
            WriteArchive(archive);
        }
    }

    void MakeFixedArchives() {
        for (const auto& [name, members] : Fixed->archives) WriteArchive({name, members});
    }

    void WriteArchive(const Archive& archive) {
        testsupport::MixWriter writer;
        for (const Member& member : archive.members) {
            writer.Add(member.name, member.bytes);
        }
        testsupport::WriteFile(ArchivePath(archive), writer.Build().bytes);
        Archives.push_back(archive);
    }

    std::string ArchivePath(const Archive& archive) const { return Folder / ("archives/" + archive.name + ".mix"); }

    // Files beside the store, named like store files, that no command may touch.
    void MakeSibling() {
        for (const char* name : {"packages.dat", "packages/71bbe511.kpi", "files/16211726.rules.ini", "x.part"}) {
            Sibling[name] = repositorytest::Pattern(100, static_cast<unsigned>(Random()));
            testsupport::WriteFile(Folder / ("Ironveil/sibling/" + std::string(name)), Sibling[name]);
        }
    }

    // The repository is a maintainer's store, converted by the program itself
    // and copied to the served folder; beside it one that serves wrong bodies.
    std::string Publish() {
        std::vector<std::string> published;
        for (const Archive& archive : Archives) {
            if (!archive.published) continue;
            published.push_back(ArchivePath(archive));
            Repository[PackageId(archive.name)] = RecordOf(archive, RepositoryVersion, RepositoryAuthor);
        }
        const auto failed = testsupport::PublishConversions(Program, published, RepositoryVersion, RepositoryAuthor,
                                                            Served / "repo", StepLimitSeconds);
        if (failed) return "set-up: the maintainer's convert failed: " + failed->err;
        // A fixed case may have a single archive, which then stands for the
        // other package too.
        const Archive& other = Archives[1 % Archives.size()];
        int variant = 0;
        for (const auto& [id, record] : Repository) {
            std::string kpi = testsupport::ReadFile(Served / ("repo/" + InfoPath(id)));
            WrongVariant[id] = variant++ % 3;
            if (WrongVariant[id] == 0) {  // another package's record
                kpi = testsupport::ReadFile(Served / ("repo/" + InfoPath(PackageId(other.name))));
                if (id == PackageId(other.name)) WrongVariant[id] = 1;
            }
            if (WrongVariant[id] == 1) kpi = repositorytest::Pattern(37 + variant, variant);
            testsupport::WriteFile(Served / ("wrong/" + InfoPath(id)), kpi);
            const std::string whole = testsupport::ReadFile(Served / ("repo/" + InfoPath(id)));
            Record cut;
            if (ReadRecord(whole.substr(0, whole.size() - std::min<size_t>(100, whole.size() / 4)), cut) &&
                PackageId(cut.name) == id) {
                ShortRecords[id] = cut;
            }
            for (const ListedFile& file : record.files) {
                std::string bytes = testsupport::ReadFile(Served / ("repo/" + ContentPath(file)));
                if (!bytes.empty()) bytes[0] = static_cast<char>(bytes[0] ^ 0x5A);
                testsupport::WriteFile(Served / ("wrong/" + ContentPath(file)), bytes);
            }
        }
        Server = std::make_unique<testsupport::HttpServer>(Served.Path(), 24 * 3600);
        return Server->IsRunning() ? std::string() : "set-up: the loopback HTTP server did not start";
    }

    // ---- one step
    std::string OneStep() {
        Before = Model;
        BeforeScan = StoreScan::Of(Store);
        // Every run opens as a store that has only ever downloaded: no
        // conversion or install (whose look for a package-info file makes the
        // folder), so no packages/ folder, and uninstalls of what arrived.
        const bool opening = Step <= OpeningSteps;
        const double full = Disk->IsMounted() ? 4 : 0;
        Kind = static_cast<int>(opening ? Pick({0, 0, 25, 40, 8, 0, 0}) : Pick({20, 18, 14, 22, 10, 3, full}));
        switch (Kind) {
            case 0:
                return Convert();
            case 1:
                return PackageCommand("install", PickName());
            case 2:
                return PackageCommand("uninstall", opening ? PickInstalledName() : PickName());
            case 3:
                return Download();
            case 4:
                return PackageCommand("list", "");
            case 5:
                return DamageIndex();
            default:
                return ToggleDisk();
        }
    }

    // ---- one step of a fixed case
    std::string FixedStepRun(const FixedStep& step) {
        using StepKind = FixedStep::Kind;
        Before = Model;
        BeforeScan = StoreScan::Of(Store);
        Kind = static_cast<int>(step.kind);  // the commands in the order of the random steps' kinds
        switch (step.kind) {
            case StepKind::FillDisk:
                return FillDisk(step.freeBytes);
            case StepKind::FreeDisk:
                return FreeDisk();
            default:
                break;
        }
        const std::string command = FixedCommand(step);
        std::string violation = command == "download" ? FixedDownload(step) : FixedPackageCommand(step, command);
        if (violation.empty() && step.mustFail && Classify(command) != Ended::Failure) {
            violation = "the " + command + " did not fail, as this case requires";
        }
        if (violation.empty() && !Contains(Result.out + Result.err, step.shows)) {
            violation = "the " + command + " did not show '" + step.shows + "': it ended before what this case tests";
        }
        return violation;
    }

    static std::string FixedCommand(const FixedStep& step) {
        const char* const commands[] = {"convert", "install", "uninstall", "download", "list"};
        return commands[static_cast<int>(step.kind)];
    }

    std::string FixedPackageCommand(const FixedStep& step, const std::string& command) {
        if (command != "convert") return PackageCommand(command, step.package);
        const auto archive = std::find_if(Archives.begin(), Archives.end(),
                                          [&](const Archive& candidate) { return candidate.name == step.package; });
        if (archive == Archives.end()) return "the case converts '" + step.package + "', which it has no archive of";
        return Convert(*archive, LocalVersions[0]);
    }

    // The source is "repo" or "wrong", perhaps below one of the server's
    // faults that do not stall ("_reset/repo").
    std::string FixedDownload(const FixedStep& step) {
        const std::string path = "/" + step.source;
        const size_t last = path.rfind('/');
        Fault = path.substr(0, last);
        const Source source = path.substr(last) == "/wrong" ? Source::Wrong
                              : Fault.empty()               ? Source::Good
                                                            : Source::Faulty;
        return Execute({"download", step.package, Server->BaseUrl() + path}, step.package, source);
    }

    bool NeedsMissingDisk() const {
        if (Fixed == nullptr || Disk->IsMounted()) return false;
        return std::any_of(Fixed->steps.begin(), Fixed->steps.end(),
                           [](const FixedStep& step) { return step.kind == FixedStep::Kind::FillDisk; });
    }

    size_t Pick(std::initializer_list<double> weights) {
        std::discrete_distribution<size_t> choose(weights);
        return choose(Random);
    }

    std::string PickName() {
        const size_t index = Random() % (Archives.size() + 1);
        std::string name = index < Archives.size() ? Archives[index].name : "Nowhere";
        if (Random() % 4 == 0) {
            std::transform(name.begin(), name.end(), name.begin(),
                           [](char c) { return static_cast<char>(std::tolower(c)); });
        }
        return name;
    }

    // Mostly a package that is installed, so that uninstalls do something.
    std::string PickInstalledName() {
        if (Model.installed.empty() || Random() % 4 == 0) return PickName();
        return Model.installed[Random() % Model.installed.size()].record.name;
    }

    std::string Convert() {
        std::vector<const Archive*> local;
        for (const Archive& archive : Archives) {
            if (archive.local) local.push_back(&archive);
        }
        const Archive& archive = *local[Random() % local.size()];
        const auto& version = LocalVersions[Random() % 2];
        return Convert(archive, version);
    }

    std::string Convert(const Archive& archive, const char* const (&version)[2]) {
        Converted = RecordOf(archive, version[0], version[1]);
        return Execute({"convert", ArchivePath(archive), version[0], version[1]}, archive.name, Source::Good);
    }

    std::string PackageCommand(const std::string& command, const std::string& name) {
        if (name.empty()) return Execute({command}, name, Source::Good);
        return Execute({command, name}, name, Source::Good);
    }

    std::string Download() {
        std::string name = PickName();
        std::vector<std::string> incomplete;
        for (const Installed& package : Model.installed) {
            if (!package.complete) incomplete.push_back(package.record.name);
        }
        if (!incomplete.empty() && Random() % 2 == 0) name = incomplete[Random() % incomplete.size()];
        const Source source = static_cast<Source>(Pick({55, 15, 15, 8}));
        const char* faults[] = {"/_reset", "/_drop", "/_short"};
        std::string url = Server->BaseUrl();
        Fault = source == Source::Faulty ? faults[Random() % 3] : "";
        url += Fault;
        if (source == Source::Stalled) url += "/_stall";
        url += source == Source::Wrong ? "/wrong" : "/repo";
        return Execute({"download", name, url}, name, source);
    }

    // Runs the program, perhaps killing it at a random moment, then checks
    // what it said and the store against the model.
    std::string Execute(const std::vector<std::string>& arguments, const std::string& name, Source source) {
        const bool kill = Fixed == nullptr && (source == Source::Stalled || Random() % 7 == 0);
        const double typical = Typical[Kind] > 0 ? Typical[Kind] : 0.02 * TimeScale;
        const double delay = source == Source::Stalled
                                 ? (0.2 + 0.001 * static_cast<double>(Random() % 1300)) * TimeScale
                                 : typical * 1.5 * static_cast<double>(Random() % 1000) / 1000;
        const auto started = Clock::now();
        // Wine, busy, now and then fails to start a program at all.
        std::unique_ptr<testsupport::ChildProcess> process;
        for (int attempt = 0; attempt < 3 && (process == nullptr || !process->IsStarted()); ++attempt) {
            if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
            process = std::make_unique<testsupport::ChildProcess>(Program, arguments, Folder.Path(),
                                                                  std::vector<std::string>{"HOME=" + Folder.Path()});
        }
        testsupport::ChildProcess& child = *process;
        if (!child.IsStarted()) return "the program did not start, three times";
        if (kill) child.KillAfter(std::chrono::microseconds(static_cast<long long>(delay * 1e6)));
        Result = child.Wait(StepLimitSeconds + 5);
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        Killed = kill && Result.exitCode == -1;
        Log(arguments, kill ? delay : -1, seconds);
        if (seconds >= StepLimitSeconds)
            return "the step did not end within " + std::to_string(StepLimitSeconds) + " s";
        if (!Killed) Typical[Kind] = Typical[Kind] > 0 ? 0.8 * Typical[Kind] + 0.2 * seconds : seconds;
        Name = name;
        Id = PackageId(name);
        Src = source;
        return Check(arguments[0]);
    }

    // ---- faults between steps
    std::string DamageIndex() {
        std::string bytes = testsupport::ReadFile(Store + "/packages.dat");
        if (bytes.empty() || Model.damagePending) {
            Log({"no-index-to-damage"}, -1, 0);
            return std::string();
        }
        const size_t at = Random() % bytes.size();
        if (Random() % 2 == 0) {
            bytes.resize(at);
            Log({"cut the index to " + std::to_string(at) + " bytes"}, -1, 0);
        } else {
            bytes[at] = static_cast<char>(bytes[at] ^ (1 + Random() % 255));
            Log({"flipped bits of index byte " + std::to_string(at)}, -1, 0);
        }
        testsupport::WriteFile(Store + "/packages.dat", bytes);
        std::vector<Record> records;
        if (ReadIndex(bytes, records)) {
            Adopt(records);  // still an index the program could have written
        } else {
            Model.damagePending = true;
            Model.expectedDamage = bytes;
            ++Counts["damage-unsound"];
        }
        return std::string();
    }

    std::string ToggleDisk() {
        if (DiskFull) return FreeDisk();
        const long leave[] = {0, 4096, 65536, 1L << 20, 4L << 20};
        return FillDisk(leave[Random() % 5]);
    }

    std::string FreeDisk() {
        std::error_code ignored;
        fs::remove(Filler, ignored);
        DiskFull = false;
        Log({"freed the disk"}, -1, 0);
        return std::string();
    }

    std::string FillDisk(long left) {
        DiskFull = true;
        Log({"filled the disk up to " + std::to_string(left) + " free bytes"}, -1, 0);
        return Disk->Fill(Filler, left) ? std::string() : "set-up: could not fill the disk";
    }

    // ---- what the step did, against the model
    Ended Classify(const std::string& command) const {
        if (Killed) return Ended::Killed;
        bool failed = false;
        for (const char* text : FailureTexts) failed = failed || Contains(Result.err, text);
        std::string success;
        if (command == "install") success = "Package '" + Name + "' is now installed.\r\n";
        if (command == "uninstall") success = "Package '" + Name + "' is now uninstalled.\r\n";
        if (command == "download") success = "Package '" + Name + "' was successfully downloaded and installed.\r\n";
        const bool printedSuccess = !success.empty() && Contains(Result.out, success);
        if (Result.exitCode == 1 && failed && !printedSuccess) return Ended::Failure;
        // A package that was already there and whole, on a damaged index
        // that could not be replaced: the download changed nothing, and the
        // failed save of the index it read is reported.
        bool transferred = false;
        for (size_t at = Result.out.find("Progress: "); at != std::string::npos;
             at = Result.out.find("Progress: ", at + 1)) {
            transferred = transferred || (at + 10 < Result.out.size() && Result.out[at + 10] != '0');
        }
        if (command == "download" && Before.damagePending && printedSuccess && !transferred && Result.exitCode == 1 &&
            Contains(Result.err, "Could not save the package index")) {
            return Ended::Failure;
        }
        if (Result.exitCode != 0 || failed) return Ended::Unexpected;
        if (success.empty() || printedSuccess) return Ended::Success;
        const bool noChange =
            (command == "install" && Contains(Result.err, "This package has already been installed.\r\n")) ||
            (command == "uninstall" && Contains(Result.err, "Could not find package to uninstall.\r\n"));
        return noChange ? Ended::NoChange : Ended::Unexpected;
    }

    // What a sound program ends with in this state; Killed stands for "either".
    Ended Expected(const std::string& command) const {
        if (DiskFull || Before.damagePending) return Ended::Killed;
        const Installed* installed = Before.Find(Id);
        if (command == "install") {
            if (installed != nullptr) return Ended::NoChange;
            return Before.infoFiles.count(Id) != 0 ? Ended::Success : Ended::Failure;
        }
        if (command == "uninstall") return installed != nullptr ? Ended::Success : Ended::NoChange;
        if (command != "download") return Ended::Success;
        if (installed != nullptr && FilesPresent(installed->record)) return Ended::Success;
        const Record* served = ServedRecord();
        if (Src == Source::Good && served != nullptr && (installed == nullptr || installed->record == *served)) {
            return Ended::Success;
        }
        return served != nullptr || installed != nullptr ? Ended::Killed : Ended::Failure;
    }

    bool FilesPresent(const Record& record) const {
        for (const ListedFile& file : record.files) {
            if (!Content->Verify(ContentPath(file), file.crc, file.size).empty()) return false;
        }
        return true;
    }

    std::string Check(const std::string& command) {
        const Ended ended = Classify(command);
        const char* endings[] = {"ok", "no-op", "failed", "killed", "unexpected"};
        ++Counts[command + " " + endings[static_cast<int>(ended)]];
        if (ended == Ended::Unexpected) {
            return "the " + command + " ended with exit code " + std::to_string(Result.exitCode) +
                   " and messages that do not go together (a success line and a failure, or neither)";
        }
        const Ended expected = Expected(command);
        if (ended != Ended::Killed && expected != Ended::Killed && ended != expected) {
            return "the " + command + " ended with " + endings[static_cast<int>(ended)] + " where the model expects " +
                   endings[static_cast<int>(expected)];
        }
        if (command == "list" && ended == Ended::Success && !Before.damagePending &&
            Result.out != Before.ListOutput()) {
            return "list shows other packages than the model holds:\n" + Before.ListOutput();
        }
        const StoreScan scan = StoreScan::Of(Store);
        std::string violation = CheckIndex(command, ended, scan);
        if (violation.empty()) violation = CheckInfoFiles(command, ended, scan);
        if (violation.empty()) violation = CheckContent(scan);
        if (violation.empty() && command == "uninstall" && ended == Ended::Success) violation = CheckCleanup(scan);
        if (violation.empty()) violation = CheckOutside(command, ended, scan);
        return violation;
    }

    // Invariants 1 and 5: the index is one the program writes and holds what
    // the model allows; a damaged one is replaced only after a copy was kept.
    std::string CheckIndex(const std::string& command, Ended ended, const StoreScan& scan) {
        std::vector<Record> now;
        const bool sound = ReadIndex(scan.index, now);
        if (Model.damagePending) {
            if (scan.index == Model.expectedDamage) return std::string();
            if (std::find(scan.damagedCopies.begin(), scan.damagedCopies.end(), Model.expectedDamage) ==
                scan.damagedCopies.end()) {
                return "the damaged index was replaced, and no packages.dat.damaged* holds its bytes";
            }
            if (!sound) return "the index written after a damaged one is not sound";
            Adopt(now);
            ++Counts["damage-copied"];
            return std::string();
        }
        if (!sound)
            return "packages.dat is not an index the program writes (" + std::to_string(scan.index.size()) + " bytes)";
        std::vector<Record> before;
        for (const Installed& package : Before.installed) before.push_back(package.record);
        std::vector<Record> added = before;
        std::vector<Record> removed;
        for (const Record& record : before) {
            if (PackageId(record.name) != Id) removed.push_back(record);
        }
        bool mayAdd = false;
        bool mayRemove = false;
        bool mustChange = ended == Ended::Success;
        if (command == "install" && Before.infoFiles.count(Id) != 0 && Before.Find(Id) == nullptr) {
            added.push_back(Before.infoFiles.at(Id));
            mayAdd = ended == Ended::Success || ended == Ended::Killed;
        } else if (command == "download" && ServedRecord() != nullptr && Before.Find(Id) == nullptr) {
            added.push_back(*ServedRecord());
            mayAdd = ended != Ended::NoChange;
        } else if (command == "uninstall" && Before.Find(Id) != nullptr) {
            mayRemove = ended == Ended::Success || ended == Ended::Killed;
        } else {
            mustChange = false;
        }
        const bool asAdded = mayAdd && now == added;
        const bool asRemoved = mayRemove && now == removed;
        if (!(asAdded || asRemoved || (!mustChange && now == before))) {
            Model.installed.clear();
            for (const Record& record : now) Model.installed.push_back({record, false});
            return "the index holds other packages than the model allows; it now lists:\n" + Model.ListOutput();
        }
        // An installed package-info file's files are whole; a download's
        // only once it reported success.
        Model.installed.clear();
        for (const Record& record : now) {
            const Installed* old = Before.Find(PackageId(record.name));
            const bool named = PackageId(record.name) == Id;
            const bool complete = old != nullptr
                                      ? old->complete || (named && command == "download" && ended == Ended::Success)
                                      : named && (command == "install" || ended == Ended::Success);
            Model.installed.push_back({record, complete && Known(record)});
        }
        return std::string();
    }

    // A record that a conversion or the repository made; one read from a
    // damaged index may list sizes or checksums that no file has, and a
    // download does not look at files that are present.
    bool Known(const Record& record) const {
        for (const Archive& archive : Archives) {
            for (const auto& version : LocalVersions) {
                if (record == RecordOf(archive, version[0], version[1])) return true;
            }
        }
        for (const auto* records : {&Repository, &ShortRecords}) {
            const auto published = records->find(PackageId(record.name));
            if (published != records->end() && published->second == record) return true;
        }
        return false;
    }

    // The record that the download's source delivers whole, if any. A server
    // that announces too little can end the body exactly after a chunk: that
    // is a package-info file too, with fewer files, and nothing in it tells.
    const Record* ServedRecord() const {
        const auto find = [&](const std::map<uint32_t, Record>& records) {
            const auto found = records.find(Id);
            return found != records.end() ? &found->second : nullptr;
        };
        if (Src == Source::Good || (Src == Source::Wrong && WrongVariant.count(Id) != 0 && WrongVariant.at(Id) == 2)) {
            return find(Repository);
        }
        return Src == Source::Faulty && Fault == "/_short" ? find(ShortRecords) : nullptr;
    }

    // After a damage: what the program read is the new truth. A record seen
    // before keeps what was known of its files.
    void Adopt(const std::vector<Record>& records) {
        std::vector<Installed> adopted;
        for (const Record& record : records) {
            const Installed* old = Model.Find(PackageId(record.name));
            adopted.push_back({record, old != nullptr && old->complete && old->record == record});
        }
        Model.installed = adopted;
        Model.damagePending = false;
        Model.expectedDamage.clear();
    }

    // The package-info files: convert writes one whole, uninstall deletes
    // one, nothing else touches them.
    std::string CheckInfoFiles(const std::string& command, Ended ended, const StoreScan& scan) {
        if (!scan.strayInfoNames.empty()) return "a stray file in packages/: " + scan.strayInfoNames.front();
        std::map<uint32_t, Record> now;
        for (const auto& [id, bytes] : scan.infoFiles) {
            if (!ReadRecord(bytes, now[id])) return "an unsound package-info file " + InfoPath(id);
        }
        std::map<uint32_t, Record> expected = Before.infoFiles;
        std::map<uint32_t, Record> changed = Before.infoFiles;
        if (command == "convert") {
            changed[Id] = Converted;
        } else if (command == "uninstall") {
            changed.erase(Id);
        }
        const bool mayChange = ended == Ended::Killed || ended == Ended::Success;
        const bool mustChange = ended == Ended::Success && (command == "convert" || command == "uninstall");
        Model.infoFiles = now;
        if ((mustChange || now != expected) && !(mayChange && now == changed)) {
            return "the package-info files are not what the model allows";
        }
        return std::string();
    }

    // Invariant 2: every file a sound package or a package-info file lists is
    // whole, and so is every file under a content file's name.
    std::string CheckContent(const StoreScan& scan) {
        std::vector<const Record*> listing;
        for (const Installed& package : Model.installed) {
            if (package.complete && !Model.damagePending) listing.push_back(&package.record);
        }
        for (const auto& [id, record] : Model.infoFiles) listing.push_back(&record);
        for (const Record* record : listing) {
            for (const ListedFile& file : record->files) {
                const std::string fault = Content->Verify(ContentPath(file), file.crc, file.size);
                if (!fault.empty()) return "a file of package '" + record->name + "': " + fault;
            }
        }
        for (const std::string& name : scan.contentNames) {
            if (name.size() > 9 && name[8] == '.' && name.find_first_not_of("0123456789ABCDEF") == 8) {
                const uint32_t crc = static_cast<uint32_t>(std::stoul(name.substr(0, 8), nullptr, 16));
                std::error_code error;
                const auto size = fs::file_size(Store + "/files/" + name, error);
                const std::string fault = Content->Verify("files/" + name, crc, static_cast<int64_t>(size));
                if (!fault.empty()) return "a content file is not whole: " + fault;
            }
        }
        return std::string();
    }

    // After an uninstall, files/ holds only what a package or a package-info
    // file lists: no leftover of the package, no partial file.
    std::string CheckCleanup(const StoreScan& scan) const {
        std::set<std::string> listed;
        for (const Installed& package : Model.installed) {
            for (const ListedFile& file : package.record.files) listed.insert(ContentPath(file));
        }
        for (const auto& [id, record] : Model.infoFiles) {
            for (const ListedFile& file : record.files) listed.insert(ContentPath(file));
        }
        for (const std::string& name : scan.contentNames) {
            if (name[0] != '.' && listed.count("files/" + name) == 0) return "uninstall left files/" + name;
        }
        for (const std::string& part : scan.parts) {
            if (part.rfind("files/", 0) == 0) return "uninstall left " + part;
        }
        return std::string();
    }

    // Invariants 3 and 4: nothing beside the store changed, and a command that
    // ended by itself left no ".part" file of its own, but for the one part
    // file of a content file whose download failed, which the next run
    // continues.
    std::string CheckOutside(const std::string& command, Ended ended, const StoreScan& scan) {
        for (const auto& [name, bytes] : Sibling) {
            if (testsupport::ReadFile(Folder / ("Ironveil/sibling/" + name)) != bytes) {
                return "a file beside the store changed: " + name;
            }
        }
        if (testsupport::ListFolder(Folder / "Ironveil/sibling").size() != 4 ||
            testsupport::ListFolder(Folder / "archives").size() != Archives.size()) {
            return "the folders beside the store changed";
        }
        for (const std::string& part : scan.parts) {
            const bool resumable = command == "download" && ended == Ended::Failure && IsPartOfPublishedFile(part);
            if (ended != Ended::Killed && BeforeScan.parts.count(part) == 0 && !resumable) {
                return "a .part file survived: " + part;
            }
            const std::string usual = part.rfind("files/~", 0) == 0 ? "files/" + part.substr(7) : std::string();
            if (!usual.empty() && scan.parts.count(usual) != 0 && !IsPublishedContentPath(usual)) {
                return "two part files of one content file: " + part;
            }
        }
        return std::string();
    }

    // "files/NAME.part" or "files/~NAME.part" of a content file the repository lists.
    bool IsPartOfPublishedFile(const std::string& part) const {
        if (part.rfind("files/", 0) != 0 || !part.ends_with(".part")) return false;
        std::string name = part.substr(6, part.size() - 6 - 5);
        if (!name.empty() && name[0] == '~') name.erase(0, 1);
        return IsPublishedContentPath("files/" + name);
    }

    bool IsPublishedContentPath(const std::string& path) const {
        for (const auto* records : {&Repository, &ShortRecords}) {
            for (const auto& [id, record] : *records) {
                for (const ListedFile& file : record.files) {
                    if (ContentPath(file) == path) return true;
                }
            }
        }
        return false;
    }

    // ---- the log and the report
    void Log(const std::vector<std::string>& arguments, double killDelay, double seconds) {
        if (seconds == 0) ++Counts[arguments[0].substr(0, arguments[0].find(' '))];
        std::string line = "#" + std::to_string(Step);
        for (const std::string& argument : arguments) line += " " + argument;
        if (killDelay >= 0) line += " (kill after " + std::to_string(static_cast<int>(killDelay * 1000)) + " ms)";
        if (seconds > 0) line += " [" + std::to_string(static_cast<int>(seconds * 1000)) + " ms]";
        Recent.push_back(line);
        if (Recent.size() > KeptSteps) Recent.pop_front();
    }

    std::string Report(const std::string& violation) {
        const std::string seed = std::to_string(Options.seed);
        std::string text = (Fixed != nullptr ? "fixed case" : "seed " + seed) + ", step " + std::to_string(Step) +
                           ": " + violation + "\nlast command: exit " + std::to_string(Result.exitCode) +
                           (Killed ? " (killed)" : "") + "\n  out: " + Result.out + "\n  err: " + Result.err +
                           "\nlast steps:\n";
        for (const std::string& line : Recent) text += "  " + line + "\n";
        const std::string run = Fixed != nullptr ? "fixed" : "seed" + seed;
        const fs::path kept = fs::temp_directory_path() / ("quillbox-stress-" + run + "-step" + std::to_string(Step));
        std::error_code error;
        fs::remove_all(kept, error);
        fs::copy(Store, kept, fs::copy_options::recursive, error);
        return text + "the store was kept in " + kept.string() +
               (error ? " (copy failed: " + error.message() + ")" : "");
    }

    StressOptions Options;
    const FixedCase* Fixed;
    std::mt19937_64 Random;
    testsupport::TempDir Folder;
    testsupport::TempDir Served;
    std::string Program;
    std::string Store;
    std::string Filler;
    std::string Skipped;
    std::unique_ptr<testsupport::SmallDisk> Disk;
    std::unique_ptr<testsupport::HttpServer> Server;
    std::unique_ptr<ContentCheck> Content;
    std::vector<Archive> Archives;
    std::map<std::string, std::string> Sibling;
    std::map<uint32_t, Record> Repository;
    std::map<uint32_t, int> WrongVariant;
    std::map<uint32_t, Record> ShortRecords;  // the repository's records as the server's "short" fault cuts them
    bool DiskFull = false;

    StoreModel Model;
    StoreModel Before;
    StoreScan BeforeScan;
    int Step = 0;
    int Kind = 0;
    double Typical[7] = {};
    std::deque<std::string> Recent;
    std::map<std::string, int> Counts;

    // The step under way.
    ProgramResult Result;
    bool Killed = false;
    std::string Name;
    uint32_t Id = 0;
    Source Src = Source::Good;
    std::string Fault;
    Record Converted;
};

}  // namespace

StressResult RunStoreStress(const StressOptions& options) {
    auto driver = std::make_unique<Driver>(options);
    return driver->Run();
}

StressResult RunFixedCase(const FixedCase& fixedCase) {
    auto driver = std::make_unique<Driver>(StressOptions{}, &fixedCase);
    return driver->Run();
}

}  // namespace stress
