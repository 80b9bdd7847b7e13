#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

// What a power loss may leave of traced runs of a program: their
// file-changing calls inside one folder, replayed on a model of a journaling
// Linux file system with delayed allocation that keeps only what was forced.
// fsync or fdatasync of a file keeps its data as of that call, fsync of a
// folder keeps the name changes made in it so far, sync keeps everything and
// syncfs everything on the file system of its descriptor; sync_file_range
// keeps nothing. Any other name change (create, rename, unlink, mkdir, link)
// may be lost, each on its own, in order: one whose source or folder is gone
// does not apply. A file's unforced data may be its last forced content, any
// prefix of its current content, all of it, or its full length with the
// unforced blocks read back as zeros (as file systems that log the size
// before the data do).
namespace stress {

// Folders of the tree that are symbolic links to folders on other file
// systems: the tree-relative path of the link, and the real folder.
using Links = std::map<std::string, std::string>;

// A folder tree: its folders and files by path relative to a base folder.
struct Tree {
    std::set<std::string> folders;
    std::map<std::string, std::string> files;

    bool operator==(const Tree&) const = default;
    // The tree at base/top, empty when there is none; linked folders are read
    // through their links.
    static Tree Read(const std::string& base, const std::string& top);
    // Replaces base/top by this tree; a folder in `links` becomes a link to
    // its real folder, whose contents are replaced.
    void Write(const std::string& base, const std::string& top, const Links& links = {}) const;
    uint64_t Hash() const;
};

enum class Variant {
    Classic,  // every unforced name change kept, every unforced byte lost
    Whole,    // everything kept: the tree of a process killed there
    Forced,   // only what was forced: every unforced name change and byte lost
    Zeroed,   // every unforced name change kept, every unforced block zero at full length
    Random,   // each unforced name change kept or not, each unforced file old, cut, new or zeroed
};

class CrashStates {
public:
    // `initial` is the durable tree at base/top before the run; the program
    // ran in `workingFolder`. The folders in `links` lie on file systems of
    // their own.
    CrashStates(std::string base, std::string top, std::string workingFolder, Tree initial, Links links = {});

    // Reads a trace of strace -f -y -xx and appends its calls; empty on
    // success, otherwise why the runs cannot be replayed (a call the model
    // does not know, a cut string).
    std::string Load(const std::string& tracePath);
    // The calls up to a crash point, ended by a kill of the program: its
    // descriptors close, and what it did not force stays pending for the
    // next run that is loaded, whose crash points alone are given.
    CrashStates KilledAt(size_t point) const;
    // Bytes written over a file of the tree and forced by someone else before
    // the next run is loaded: damage that the next run is to find.
    void OverwriteForced(const std::string& path, const std::string& bytes);

    // The crash points of the last run: 0 before the first call of a run that
    // follows no kill, then p after call p, for the calls that change the
    // tree or force something.
    std::vector<size_t> CrashPoints() const;
    // The crash points where a name change waits for the force that comes
    // next, or for none at the end: a kill there leaves the most pending.
    std::vector<size_t> KillPoints() const;
    // True when the name changes pending at the point include a rename or a
    // folder, which a later run may take for durable.
    bool PendsRenameOrFolder(size_t point) const;
    size_t Calls() const { return Ops.size(); }
    // The call before the crash point, for reports.
    std::string Describe(size_t point) const;
    // True after a name change or a sync (and at the start).
    bool Structural(size_t point) const;
    // The state at a crash point; `choices` tells what the variant dropped
    // and cut.
    Tree At(size_t point, Variant variant, std::mt19937_64& random, std::string& choices) const;

    struct Change {
        enum Kind { Create, Link, Rename, Unlink, MakeFolder, RemoveFolder } kind = Create;
        std::string path;
        std::string target;             // of a rename or a link
        int inode = -1;                 // of a create
        std::set<std::string> waiting;  // folders whose sync makes the change durable
    };
    // One call on the tree, as the trace shows it.
    struct Op {
        // End: the program is gone, and its descriptors with it.
        enum Kind { Open, Duplicate, Write, Seek, Read, Resize, Close, Sync, SyncAll, Name, End, None } kind = None;
        int fd = -1;
        // Write: the offset (-1: at the position); Seek: the position; Read:
        // the bytes it moved the position by; Resize: the length; SyncAll:
        // the file system (-1: all of them); Duplicate: the new descriptor.
        int64_t value = 0;
        // Open: the path and its flags.
        std::string path;
        bool create = false, truncate = false, append = false, writable = false;
        std::string bytes;  // Write
        Change change;      // Name
        std::string text;   // for reports
    };

private:
    std::string Base;
    std::string Top;
    std::string WorkingFolder;
    Tree Initial;
    Links Linked;
    std::vector<Op> Ops;
    size_t Start = 0;  // the first call of the last run
};

// The calls to trace: those the model replays, and those it refuses on the
// tree rather than miss (names marked "?" are missing on some machines).
inline constexpr const char* TracedCalls =
    "?open,openat,?creat,read,write,pwrite64,writev,pwritev,pwritev2,lseek,ftruncate,truncate,fallocate,"
    "?rename,renameat,renameat2,?unlink,unlinkat,?rmdir,?mkdir,mkdirat,?link,linkat,?symlink,symlinkat,"
    "fsync,fdatasync,syncfs,sync,sync_file_range,close,copy_file_range,?sendfile,dup,?dup2,dup3,fcntl";

}  // namespace stress
