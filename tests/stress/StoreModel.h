#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// What the stress driver believes the store holds, and the store as it is
// found on disk. The records are read here by a reader of our own that accepts
// only what a sound writer produces, so that the program's reader is never
// the judge of its own index.
namespace stress {

struct ListedFile {
    uint32_t crc = 0;
    uint32_t size = 0;
    std::string name;
    bool operator==(const ListedFile&) const = default;
};

struct Record {
    std::string name;
    std::string version;
    std::string author;
    int32_t revision = 2;
    std::vector<ListedFile> files;
    bool operator==(const Record&) const = default;
};

// True when the bytes are exactly one record (a package-info file) as the
// program writes it: nothing that reading and writing back would drop or
// change.
bool ReadRecord(const std::string& bytes, Record& record);
// The same for the index: a sequence of package entries, each exactly one
// record. An empty index is sound.
bool ReadIndex(const std::string& bytes, std::vector<Record>& records);

// A member of an archive, as the drivers build them.
struct Member {
    std::string name;
    std::string bytes;
};

// The record that converting members with these texts gives.
Record RecordOf(const std::string& name, const char* version, const char* author, const std::vector<Member>& members);

uint32_t PackageId(const std::string& name);
std::string InfoPath(uint32_t id);                // "packages/xxxxxxxx.kpi"
std::string ContentPath(const ListedFile& file);  // "files/XXXXXXXX.name"

struct Installed {
    Record record;
    // False for a package whose files may be missing: registered by a
    // download that did not report success, or read from a damaged index.
    bool complete = true;
};

struct StoreModel {
    std::vector<Installed> installed;      // in index order
    std::map<uint32_t, Record> infoFiles;  // packages/*.kpi by package id
    std::string expectedDamage;            // bytes of an index damaged on purpose, not yet read
    bool damagePending = false;

    const Installed* Find(uint32_t id) const;
    std::string ListOutput() const;
};

// The store folder as found on disk.
struct StoreScan {
    std::string index;  // empty when there is none
    std::map<uint32_t, std::string> infoFiles;
    std::vector<std::string> strayInfoNames;  // in packages/, neither a package-info file nor a .part
    std::set<std::string> parts;              // store-relative paths ending in ".part"
    std::vector<std::string> contentNames;    // names in files/ that are not .part
    std::vector<std::string> damagedCopies;   // bytes of every packages.dat.damaged*

    static StoreScan Of(const std::string& store);
    // The store-relative paths in files/ that none of the records lists,
    // temporary files included: a content file's own name may end in ".part"
    // too, so `parts` alone does not tell leftovers. Hidden names are passed
    // over, as the program's cleanup passes them over.
    std::vector<std::string> Unlisted(const std::vector<Record>& records) const;
};

// The CRC-32 and size of store files, remembered while a file keeps its
// size and time, as most files do from one step to the next.
class ContentCheck {
public:
    explicit ContentCheck(std::string store) : Store(std::move(store)) {}
    // Empty when the file at the store-relative path has the listed size
    // and checksum; otherwise what is wrong.
    std::string Verify(const std::string& relative, uint32_t crc, int64_t size);

private:
    struct Seen {
        int64_t size;
        int64_t time;
        uint32_t crc;
    };
    std::string Store;
    std::map<std::string, Seen> Cache;
};

}  // namespace stress
