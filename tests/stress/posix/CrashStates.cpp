#include "stress/posix/CrashStates.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "support/TestSupport.h"

namespace stress {

namespace {

namespace fs = std::filesystem;
using Change = CrashStates::Change;
using Op = CrashStates::Op;

// With -xx every byte of a string and of a path is written as \xHH; the
// other escapes are decoded too, should a version of strace use them.
std::string Unescape(std::string_view text) {
    std::string bytes;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 3 < text.size() && text[at + 1] == 'x') {
            bytes += static_cast<char>(std::stoi(std::string(text.substr(at + 2, 2)), nullptr, 16));
            at += 3;
        } else if (text[at] == '\\' && at + 1 < text.size()) {
            const char escaped = text[++at];
            bytes += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped == 'r' ? '\r' : escaped;
        } else {
            bytes += text[at];
        }
    }
    return bytes;
}

// Every quoted string of a token, one after the other (the buffers of a
// writev); false when strace cut one short.
bool Quoted(std::string_view token, std::string& bytes) {
    bytes.clear();
    for (size_t open = token.find('"'); open != token.npos; open = token.find('"', open)) {
        const size_t close = token.find('"', open + 1);
        if (close == token.npos || token.substr(close + 1, 3) == "...") {
            return false;
        }
        bytes += Unescape(token.substr(open + 1, close - open - 1));
        open = close + 1;
    }
    return true;
}

// The path that -y writes after a descriptor: "5</a/b>".
std::string Annotation(std::string_view token) {
    const size_t open = token.find('<');
    const size_t close = token.rfind('>');
    if (open == token.npos || close == token.npos || close < open) {
        return std::string();
    }
    std::string path = Unescape(token.substr(open + 1, close - open - 1));
    const std::string deleted = " (deleted)";
    if (path.ends_with(deleted)) {
        path.resize(path.size() - deleted.size());
    }
    return path;
}

// The arguments of a call, split at the commas outside strings, brackets and
// annotations.
std::vector<std::string> SplitArguments(std::string_view text) {
    std::vector<std::string> parts;
    int depth = 0;
    bool quoted = false;
    size_t start = 0;
    for (size_t at = 0; at <= text.size(); ++at) {
        const char character = at < text.size() ? text[at] : ',';
        if (quoted) {
            at += character == '\\' ? 1 : 0;
            quoted = character != '"';
        } else if (character == '"') {
            quoted = true;
        } else if (std::string_view("[{(<").find(character) != std::string_view::npos) {
            ++depth;
        } else if (std::string_view("]})>").find(character) != std::string_view::npos) {
            --depth;
        } else if (character == ',' && depth == 0) {
            std::string_view part = text.substr(start, at - start);
            while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
            if (!part.empty()) parts.emplace_back(part);
            start = at + 1;
        }
    }
    return parts;
}

std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == path.npos ? std::string() : path.substr(0, slash);
}

bool Beneath(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// The file system of a tree path: 0 for the tree's own, 1 + the index of the
// linked folder that holds it.
int FileSystemOf(const std::string& path, const Links& links) {
    int index = 1;
    for (const auto& [link, real] : links) {
        if (path == link || Beneath(path, link)) return index;
        ++index;
    }
    return 0;
}

// The blocks of `now` that differ from the forced content, read back as
// zeros: all of them, or each at random (at least one).
std::string Zeroed(const std::string& now, const std::string& old, std::mt19937_64* random) {
    constexpr size_t Block = 4096;
    std::vector<size_t> unforced;
    for (size_t at = 0; at < now.size(); at += Block) {
        if (at >= old.size() || now.compare(at, Block, old, at, Block) != 0) unforced.push_back(at);
    }
    std::string bytes = now;
    for (size_t index = 0; index < unforced.size(); ++index) {
        const bool last = index + 1 == unforced.size() && bytes == now;
        if (random == nullptr || last || (*random)() % 2 == 0) {
            const size_t at = unforced[index];
            bytes.replace(at, std::min(Block, now.size() - at), std::min(Block, now.size() - at), '\0');
        }
    }
    return bytes;
}

std::string ChangeText(const Change& change) {
    const char* verbs[] = {"create", "link", "rename", "unlink", "mkdir", "rmdir"};
    std::string text = std::string(verbs[change.kind]) + " " + change.path;
    return change.target.empty() ? text : text + " -> " + change.target;
}

// One name change, applied as the file system would: it does not apply
// where its source or its folder is missing.
bool ApplyChange(const Change& change, std::map<std::string, int>& names, std::set<std::string>& folders) {
    const auto folderExists = [&](const std::string& path) { return path.empty() || folders.count(path) != 0; };
    switch (change.kind) {
        case Change::Create:
            if (!folderExists(Parent(change.path))) return false;
            names[change.path] = change.inode;
            return true;
        case Change::Link:
            if (names.count(change.path) == 0 || !folderExists(Parent(change.target)) ||
                names.count(change.target) != 0) {
                return false;
            }
            names[change.target] = names[change.path];
            return true;
        case Change::Rename:
            // The program renames files only; a folder's rename fails the replay.
            if (names.count(change.path) == 0 || !folderExists(Parent(change.target))) return false;
            names[change.target] = names[change.path];
            names.erase(change.path);
            return true;
        case Change::Unlink:
            return names.erase(change.path) != 0;
        case Change::MakeFolder:
            return folderExists(Parent(change.path)) && folders.insert(change.path).second;
        case Change::RemoveFolder:
            for (const auto& [path, inode] : names) {
                if (Beneath(path, change.path)) return false;
            }
            for (const std::string& folder : folders) {
                if (Beneath(folder, change.path)) return false;
            }
            return folders.erase(change.path) != 0;
    }
    return false;
}

// The model of the file system after some calls: the names and data as the
// program saw them, and what of it was forced.
struct Replay {
    struct Descriptor {
        int inode = -1;  // -1: a folder
        std::string folder;
        int64_t position = 0;
        bool append = false;
    };
    std::map<std::string, int> names;
    std::set<std::string> folders;
    std::vector<std::string> data;
    std::vector<std::string> durable;
    std::vector<int> fileSystems;  // of each file
    std::vector<Change> changes;
    std::map<int, Descriptor> descriptors;
    const Links& links;

    Replay(const Tree& initial, const Links& linked) : folders(initial.folders), links(linked) {
        for (const auto& [path, bytes] : initial.files) {
            names[path] = static_cast<int>(data.size());
            data.push_back(bytes);
            durable.push_back(bytes);
            fileSystems.push_back(FileSystemOf(path, links));
        }
    }

    // A name change not yet synced into its folder.
    bool Pending(const Change& change) const { return !change.waiting.empty(); }

    std::string Apply(const Op& op) {
        if (op.kind == Op::Name) {
            if (!ApplyChange(op.change, names, folders)) return "the model cannot " + op.text;
            changes.push_back(op.change);
            return std::string();
        }
        if (op.kind == Op::SyncAll) {
            // syncfs reaches only the file system of its descriptor.
            const auto covered = [&](int fileSystem) { return op.value < 0 || fileSystem == op.value; };
            for (Change& change : changes) {
                std::erase_if(change.waiting,
                              [&](const std::string& folder) { return covered(FileSystemOf(folder, links)); });
            }
            for (size_t inode = 0; inode < data.size(); ++inode) {
                if (covered(fileSystems[inode])) durable[inode] = data[inode];
            }
            return std::string();
        }
        if (op.kind == Op::End) {
            descriptors.clear();
            return std::string();
        }
        if (op.kind == Op::Open) {
            if (op.path.empty() || folders.count(op.path) != 0) {
                descriptors[op.fd] = {-1, op.path, 0, false};
                return std::string();
            }
            auto found = names.find(op.path);
            if (found == names.end()) {
                if (!op.create) return "the program opened " + op.path + ", which the model does not hold";
                const Change change{Change::Create, op.path, "", static_cast<int>(data.size()), {Parent(op.path)}};
                data.emplace_back();
                durable.emplace_back();
                fileSystems.push_back(FileSystemOf(op.path, links));
                if (!ApplyChange(change, names, folders)) return "the model cannot " + ChangeText(change);
                changes.push_back(change);
                found = names.find(op.path);
            } else if (op.truncate && op.writable) {
                data[found->second].clear();
            }
            descriptors[op.fd] = {found->second, "", 0, op.append};
            return std::string();
        }
        const auto open = descriptors.find(op.fd);
        if (open == descriptors.end()) return "the model knows no descriptor for: " + op.text;
        Descriptor& descriptor = open->second;
        if (op.kind == Op::Duplicate) {
            descriptors[static_cast<int>(op.value)] = descriptor;
        } else if (op.kind == Op::Close) {
            descriptors.erase(open);
        } else if (op.kind == Op::Seek) {
            descriptor.position = op.value;
        } else if (op.kind == Op::Read) {
            descriptor.position += op.value;
        } else if (op.kind == Op::Sync && descriptor.inode < 0) {
            for (Change& change : changes) change.waiting.erase(descriptor.folder);
        } else if (descriptor.inode < 0) {
            return "the model holds a folder where the program used a file: " + op.text;
        } else if (op.kind == Op::Sync) {
            durable[descriptor.inode] = data[descriptor.inode];
        } else if (op.kind == Op::Resize) {
            data[descriptor.inode].resize(static_cast<size_t>(op.value));
        } else if (op.kind == Op::Write) {
            std::string& bytes = data[descriptor.inode];
            const size_t at = static_cast<size_t>(op.value >= 0       ? op.value
                                                  : descriptor.append ? static_cast<int64_t>(bytes.size())
                                                                      : descriptor.position);
            if (bytes.size() < at + op.bytes.size()) bytes.resize(at + op.bytes.size());
            bytes.replace(at, op.bytes.size(), op.bytes);
            if (op.value < 0) descriptor.position = static_cast<int64_t>(at + op.bytes.size());
        }
        return std::string();
    }
};

}  // namespace

Tree Tree::Read(const std::string& base, const std::string& top) {
    Tree tree;
    const fs::path root = fs::path(base) / top;
    if (!fs::is_directory(root)) return tree;
    tree.folders.insert(top);
    for (const fs::directory_entry& entry :
         fs::recursive_directory_iterator(root, fs::directory_options::follow_directory_symlink)) {
        const std::string relative = entry.path().lexically_relative(base).string();
        if (entry.is_directory()) {
            tree.folders.insert(relative);
        } else {
            tree.files[relative] = testsupport::ReadFile(entry.path().string());
        }
    }
    return tree;
}

void Tree::Write(const std::string& base, const std::string& top, const Links& links) const {
    fs::remove_all(fs::path(base) / top);
    for (const auto& [link, real] : links) {
        for (const fs::directory_entry& entry : fs::directory_iterator(real)) fs::remove_all(entry.path());
    }
    for (const std::string& folder : folders) {
        const auto linked = links.find(folder);
        if (linked != links.end()) {
            fs::create_directory_symlink(linked->second, fs::path(base) / folder);
        } else {
            fs::create_directory(fs::path(base) / folder);
        }
    }
    for (const auto& [path, bytes] : files) testsupport::WriteFile(base + "/" + path, bytes);
}

uint64_t Tree::Hash() const {
    uint64_t hash = 14695981039346656037ull;
    const auto mix = [&](std::string_view bytes) {
        for (const char byte : bytes) hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211ull;
        hash = (hash ^ 0xFF) * 1099511628211ull;
    };
    for (const std::string& folder : folders) mix(folder);
    for (const auto& [path, bytes] : files) {
        mix(path);
        mix(std::to_string(bytes.size()));
        mix(bytes);
    }
    return hash;
}

CrashStates::CrashStates(std::string base, std::string top, std::string workingFolder, Tree initial, Links links)
    : Base(std::move(base)),
      Top(std::move(top)),
      WorkingFolder(std::move(workingFolder)),
      Initial(std::move(initial)),
      Linked(std::move(links)) {}

CrashStates CrashStates::KilledAt(size_t point) const {
    CrashStates killed = *this;
    killed.Ops.resize(std::min(point, Ops.size()));
    Op end;
    end.kind = Op::End;
    end.text = "kill";
    killed.Ops.push_back(end);
    killed.Start = killed.Ops.size();
    return killed;
}

void CrashStates::OverwriteForced(const std::string& path, const std::string& bytes) {
    // A descriptor that no traced program has.
    constexpr int Outside = -100;
    Op open;
    open.kind = Op::Open;
    open.fd = Outside;
    open.path = path;
    open.writable = true;
    open.text = "open " + path + " by someone else";
    Op write = open;
    write.kind = Op::Write;
    write.value = 0;
    write.bytes = bytes;
    write.text = "write of " + std::to_string(bytes.size()) + " bytes to " + path + " by someone else";
    Op sync = open;
    sync.kind = Op::Sync;
    sync.text = "fsync " + path + " by someone else";
    Op close = open;
    close.kind = Op::Close;
    close.text = "close " + path + " by someone else";
    for (const Op& op : {open, write, sync, close}) Ops.push_back(op);
    Start = Ops.size();
}

std::string CrashStates::Load(const std::string& tracePath) {
    const std::string root = Base + "/" + Top;
    // The relative name of a path in the tree; the base folder itself counts,
    // since syncing it makes the creation of the top folder durable. With -y
    // a descriptor shows the real folder of a link, a path argument the link.
    const auto key = [&](const std::string& path, std::string& relative) {
        if (path == Base) {
            relative.clear();
            return true;
        }
        for (const auto& [link, real] : Linked) {
            if (path == real || Beneath(path, real)) {
                relative = link + path.substr(real.size());
                return true;
            }
        }
        if (path != root && !Beneath(path, root)) return false;
        relative = path.substr(Base.size() + 1);
        return true;
    };
    const auto resolve = [&](const std::string& folderToken, const std::string& pathToken) {
        std::string path;
        Quoted(pathToken, path);
        if (!path.starts_with('/')) {
            const std::string folder = Annotation(folderToken);
            path = (folder.empty() ? WorkingFolder : folder) + "/" + path;
        }
        path = fs::path(path).lexically_normal().string();
        while (path.size() > 1 && path.ends_with('/')) path.pop_back();
        return path;
    };

    std::ifstream in(tracePath);
    if (!in) return "the trace " + tracePath + " is missing";
    Start = Ops.size();
    std::map<std::string, std::string> pending;  // calls not yet finished, by thread
    // The descriptors of the tree's files: their reads (traced raw, without
    // the data) move the position that later writes start at.
    std::set<int> treeDescriptors;
    std::string line;
    while (std::getline(in, line)) {
        const size_t digits = line.find_first_not_of("0123456789");
        const std::string thread = line.substr(0, digits);
        std::string body = line.substr(std::min(line.size(), line.find_first_not_of(' ', digits)));
        const std::string unfinished = " <unfinished ...>";
        if (body.ends_with(unfinished)) {
            pending[thread] = body.substr(0, body.size() - unfinished.size());
            continue;
        }
        if (body.starts_with("<... ")) {
            const auto started = pending.find(thread);
            if (started == pending.end()) return "the trace resumes a call it never started: " + body.substr(0, 80);
            body = started->second + body.substr(body.find('>') + 1);
            pending.erase(started);
        }
        // strace pads short calls to line up their results.
        const size_t open = body.find('(');
        const size_t equals = body.rfind(" = ");
        const size_t close = equals == body.npos ? body.npos : body.find_last_not_of(' ', equals);
        if (open == body.npos || close == body.npos || close < open || body[close] != ')') continue;
        const std::string name = body.substr(0, open);
        const std::vector<std::string> args = SplitArguments(std::string_view(body).substr(open + 1, close - open - 1));
        const std::string result = body.substr(equals + 3);
        if (result.empty() || result[0] < '0' || result[0] > '9') continue;  // failed: nothing changed
        // Raw calls give their numbers in hexadecimal.
        const int64_t value = std::stoll(result, nullptr, 0);
        const auto arg = [&](size_t index) { return index < args.size() ? args[index] : std::string(); };

        Op op;
        std::string path;
        std::string target;
        const auto fdOp = [&](Op::Kind kind) {
            op.kind = key(Annotation(arg(0)), path) ? kind : Op::None;
            op.fd = std::atoi(arg(0).c_str());
            op.text = name + " " + path;
        };
        const auto nameOp = [&](Change::Kind kind, const std::string& from, const std::string& to) {
            std::string fromKey;
            std::string toKey;
            const bool fromInside = key(from, fromKey);
            if (!fromInside && (to.empty() || !key(to, toKey))) return std::string();
            if (!fromInside || (!to.empty() && !key(to, toKey))) return name + " across the edge of the tree: " + from;
            op.kind = Op::Name;
            op.change = {kind, fromKey, toKey, -1, {Parent(fromKey)}};
            if (!toKey.empty()) op.change.waiting.insert(Parent(toKey));
            op.text = ChangeText(op.change);
            return std::string();
        };
        std::string error;
        if (name == "open" || name == "openat" || name == "creat") {
            const std::string flags = name == "creat" ? "O_WRONLY|O_CREAT|O_TRUNC" : arg(name == "openat" ? 2 : 1);
            std::string opened = Annotation(result);
            if (opened.empty()) opened = name == "openat" ? resolve(arg(0), arg(1)) : resolve("", arg(0));
            if (key(opened, path)) {
                op.kind = Op::Open;
                op.fd = static_cast<int>(value);
                op.path = path;
                op.create = flags.find("O_CREAT") != flags.npos;
                op.truncate = flags.find("O_TRUNC") != flags.npos;
                op.append = flags.find("O_APPEND") != flags.npos;
                op.writable = flags.find("O_WRONLY") != flags.npos || flags.find("O_RDWR") != flags.npos;
                op.text = "open " + path + " (" + flags + ")";
            }
        } else if (name == "write" || name == "pwrite64" || name == "writev") {
            fdOp(Op::Write);
            if (op.kind == Op::Write && !Quoted(arg(1), op.bytes)) return "strace cut the data of a call short";
            op.bytes.resize(std::min<size_t>(op.bytes.size(), static_cast<size_t>(value)));
            op.value = name == "pwrite64" ? std::stoll(arg(3)) : -1;
            op.text = name + " of " + std::to_string(op.bytes.size()) + " bytes to " + path;
        } else if (name == "read") {
            const int fd = static_cast<int>(std::stoll(arg(0), nullptr, 0));
            if (treeDescriptors.count(fd) != 0) {
                op.kind = Op::Read;
                op.fd = fd;
                op.value = value;
                op.text = "read of " + std::to_string(value) + " bytes";
            }
        } else if (name == "lseek") {
            fdOp(Op::Seek);
            op.value = value;
        } else if (name == "ftruncate") {
            fdOp(Op::Resize);
            op.value = std::stoll(arg(1));
            op.text += " to " + arg(1);
        } else if (name == "close") {
            fdOp(Op::Close);
        } else if (name == "fsync" || name == "fdatasync") {
            fdOp(Op::Sync);
        } else if (name == "syncfs") {
            fdOp(Op::SyncAll);
            op.value = FileSystemOf(path, Linked);
        } else if (name == "sync") {
            op.kind = Op::SyncAll;
            op.value = -1;
            op.text = "sync";
        } else if (name == "dup" || name == "dup2" || name == "dup3" ||
                   (name == "fcntl" && arg(1).starts_with("F_DUPFD"))) {
            // A second descriptor of the same file: a force or a close
            // through it acts on that file.
            fdOp(Op::Duplicate);
            op.value = value;
        } else if (name == "fcntl") {
            // Flags and locks change nothing on the disk.
        } else if (name == "sync_file_range") {
            // Starts write-back and waits for none of it: nothing is durable.
        } else if (name == "rename" || name == "link") {
            error = nameOp(name == "rename" ? Change::Rename : Change::Link, resolve("", arg(0)), resolve("", arg(1)));
        } else if (name == "renameat" || name == "renameat2" || name == "linkat") {
            error = nameOp(name == "linkat" ? Change::Link : Change::Rename, resolve(arg(0), arg(1)),
                           resolve(arg(2), arg(3)));
        } else if (name == "unlink" || name == "rmdir" || name == "mkdir") {
            error = nameOp(name == "unlink"  ? Change::Unlink
                           : name == "rmdir" ? Change::RemoveFolder
                                             : Change::MakeFolder,
                           resolve("", arg(0)), "");
        } else if (name == "unlinkat" || name == "mkdirat") {
            const bool folder = name == "mkdirat" || arg(2).find("AT_REMOVEDIR") != std::string::npos;
            error = nameOp(name == "mkdirat" ? Change::MakeFolder
                           : folder          ? Change::RemoveFolder
                                             : Change::Unlink,
                           resolve(arg(0), arg(1)), "");
        } else {
            // A call the model does not replay must not touch the tree.
            for (const std::string& argument : args) {
                if (key(Annotation(argument), path) ||
                    (argument.starts_with('"') && key(resolve("", argument), path))) {
                    return "the model does not know the call " + name + ", which the program used on " + path;
                }
            }
        }
        if (!error.empty()) return error;
        if (name == "close") treeDescriptors.erase(std::atoi(arg(0).c_str()));
        if (op.kind == Op::Open) treeDescriptors.insert(op.fd);
        if (op.kind == Op::Duplicate) treeDescriptors.insert(static_cast<int>(op.value));
        if (op.kind != Op::None) Ops.push_back(op);
    }
    // The whole run must replay: a call the model cannot follow is a fault of
    // the model or of the trace, not a state to check.
    Replay replay(Initial, Linked);
    for (const Op& op : Ops) {
        const std::string error = replay.Apply(op);
        if (!error.empty()) return error;
    }
    return std::string();
}

namespace {

bool Changes(const Op& op) {
    if (op.kind == Op::Open) {
        return op.create || (op.truncate && op.writable);
    }
    return op.kind != Op::Seek && op.kind != Op::Read && op.kind != Op::Close && op.kind != Op::End &&
           op.kind != Op::Duplicate;
}

}  // namespace

std::vector<size_t> CrashStates::CrashPoints() const {
    // The start of a run after a kill is a crash point of the killed run.
    std::vector<size_t> points;
    if (Start == 0) points.push_back(0);
    for (size_t index = Start; index < Ops.size(); ++index) {
        if (Changes(Ops[index])) points.push_back(index + 1);
    }
    return points;
}

std::vector<size_t> CrashStates::KillPoints() const {
    std::vector<size_t> points;
    Replay replay(Initial, Linked);
    for (size_t index = 0; index < Ops.size(); ++index) {
        replay.Apply(Ops[index]);
        if (index < Start || !Changes(Ops[index])) continue;
        size_t next = index + 1;
        while (next < Ops.size() && !Changes(Ops[next])) ++next;
        const bool forceNext = next < Ops.size() && (Ops[next].kind == Op::Sync || Ops[next].kind == Op::SyncAll);
        const bool pending = std::any_of(replay.changes.begin(), replay.changes.end(),
                                         [&](const Change& change) { return replay.Pending(change); });
        if (pending && (forceNext || next == Ops.size())) points.push_back(index + 1);
    }
    return points;
}

bool CrashStates::PendsRenameOrFolder(size_t point) const {
    Replay replay(Initial, Linked);
    for (size_t index = 0; index < std::min(point, Ops.size()); ++index) replay.Apply(Ops[index]);
    return std::any_of(replay.changes.begin(), replay.changes.end(), [&](const Change& change) {
        return replay.Pending(change) && (change.kind == Change::Rename || change.kind == Change::MakeFolder);
    });
}

std::string CrashStates::Describe(size_t point) const {
    return point <= Start ? std::string("before the first call")
                          : "after call #" + std::to_string(point - Start) + " " + Ops[point - 1].text;
}

bool CrashStates::Structural(size_t point) const {
    if (point <= Start) return true;
    const Op& op = Ops[point - 1];
    return op.kind == Op::Name || op.kind == Op::Sync || op.kind == Op::SyncAll || (op.kind == Op::Open && op.create);
}

Tree CrashStates::At(size_t point, Variant variant, std::mt19937_64& random, std::string& choices) const {
    Replay replay(Initial, Linked);
    for (size_t index = 0; index < point; ++index) replay.Apply(Ops[index]);
    std::map<std::string, int> names = Replay(Initial, Linked).names;
    Tree tree;
    tree.folders = Initial.folders;
    choices.clear();
    for (const Change& change : replay.changes) {
        if (replay.Pending(change) &&
            (variant == Variant::Forced || (variant == Variant::Random && random() % 2 == 0))) {
            choices += "dropped " + ChangeText(change) + "; ";
        } else {
            ApplyChange(change, names, tree.folders);
        }
    }
    // A file with two names holds one content.
    std::map<int, std::string> chosen;
    for (const auto& [path, inode] : names) {
        auto content = chosen.find(inode);
        if (content == chosen.end()) {
            const std::string& now = replay.data[inode];
            const std::string& old = replay.durable[inode];
            constexpr uint64_t Old = 0, Cut = 1, New = 2, Zeros = 3;
            const uint64_t pick = now == old || variant == Variant::Whole                     ? New
                                  : variant == Variant::Classic || variant == Variant::Forced ? Old
                                  : variant == Variant::Zeroed                                ? Zeros
                                                                                              : random() % 4;
            std::string bytes = pick == Old   ? old
                                : pick == Cut ? now.substr(0, random() % (now.size() + 1))
                                : pick == New ? now
                                              : Zeroed(now, old, variant == Variant::Random ? &random : nullptr);
            if (bytes != now) {
                choices += path + " holds " + std::to_string(bytes.size()) + " of " + std::to_string(now.size()) +
                           (pick == Old     ? " bytes (the forced content); "
                            : pick == Zeros ? " bytes, zeroed blocks; "
                                            : " bytes; ");
            }
            content = chosen.emplace(inode, std::move(bytes)).first;
        }
        tree.files[path] = content->second;
    }
    return tree;
}

}  // namespace stress
