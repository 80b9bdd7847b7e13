#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One index entry as it is written: name hash, offset and size.
struct MixEntry {
    uint32_t crc = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
};

// A built archive and where its parts lie, so that tests can cut or patch it.
struct MixArchive {
    std::string bytes;
    uint32_t indexOffset = 0;
    uint32_t namesOffset = 0;
    std::vector<MixEntry> entries;  // in file order

    // The index entries exactly as stored (without the count).
    std::string IndexEntryBytes() const { return bytes.substr(indexOffset + 4, entries.size() * 12); }
};

// Writes MIX1 archives for tests in the usual layout (header, member data at
// multiples of 8, index, name table), with ways to break each part of it.
class MixWriter {
public:
    // A member with an index entry and a name-table entry.
    MixWriter& Add(const std::string& name, const std::string& bytes);
    // A member whose data and name-table entry exist but whose index lacks it.
    MixWriter& AddUnindexed(const std::string& name, const std::string& bytes);
    // An index entry that belongs to no member, written as given.
    MixWriter& AddRawEntry(const MixEntry& entry);
    // Gives a member's index entry a chosen offset and size.
    MixWriter& Place(const std::string& name, uint32_t offset, uint32_t size);
    // Writes the index in descending order of name hash.
    MixWriter& UnsortedIndex();
    MixWriter& Magic(const std::string& fourBytes);
    // Overrides the entry count field of the index (the entries stay).
    MixWriter& EntryCount(uint32_t count);
    // Replaces the name table by these entries, each written after a length
    // byte of its size (so include the terminating zero where wanted).
    MixWriter& RawNameTable(const std::vector<std::string>& entries);
    // Overrides the name count field of the name table.
    MixWriter& NameCount(uint32_t count);
    // Moves the data of the members so that the first one starts here.
    MixWriter& FirstMemberAt(uint32_t offset);

    MixArchive Build() const;

private:
    struct Member {
        std::string name;
        std::string bytes;
        bool indexed = true;
        bool placed = false;
        uint32_t offset = 0;
        uint32_t size = 0;
    };

    std::vector<Member> Members;
    std::vector<MixEntry> RawEntries;
    std::string MagicBytes = "MIX1";
    bool Unsorted = false;
    bool CountOverridden = false;
    uint32_t CountOverride = 0;
    bool NamesReplaced = false;
    std::vector<std::string> RawNames;
    bool NameCountOverridden = false;
    uint32_t NameCountOverride = 0;
    uint32_t FirstMemberOffset = 16;
};

}  // namespace testsupport
