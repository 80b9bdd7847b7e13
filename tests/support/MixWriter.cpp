#include "support/MixWriter.h"

#include <algorithm>

#include "foundation/HashName.h"
#include "support/RecordBytes.h"

namespace testsupport {

namespace {

void PadToMultipleOf8(std::string& bytes) { bytes.resize((bytes.size() + 7) / 8 * 8, '\0'); }

void PutWord(std::string& bytes, size_t at, uint32_t value) { bytes.replace(at, 4, Le32(value)); }

}  // namespace

MixWriter& MixWriter::Add(const std::string& name, const std::string& bytes) {
    Members.push_back({name, bytes});
    return *this;
}

MixWriter& MixWriter::AddUnindexed(const std::string& name, const std::string& bytes) {
    Members.push_back({name, bytes, false});
    return *this;
}

MixWriter& MixWriter::AddRawEntry(const MixEntry& entry) {
    RawEntries.push_back(entry);
    return *this;
}

MixWriter& MixWriter::Place(const std::string& name, uint32_t offset, uint32_t size) {
    for (Member& member : Members) {
        if (member.name == name) {
            member.placed = true;
            member.offset = offset;
            member.size = size;
        }
    }
    return *this;
}

MixWriter& MixWriter::UnsortedIndex() {
    Unsorted = true;
    return *this;
}

MixWriter& MixWriter::Magic(const std::string& fourBytes) {
    MagicBytes = fourBytes;
    return *this;
}

MixWriter& MixWriter::EntryCount(uint32_t count) {
    CountOverridden = true;
    CountOverride = count;
    return *this;
}

MixWriter& MixWriter::RawNameTable(const std::vector<std::string>& entries) {
    NamesReplaced = true;
    RawNames = entries;
    return *this;
}

MixWriter& MixWriter::NameCount(uint32_t count) {
    NameCountOverridden = true;
    NameCountOverride = count;
    return *this;
}

MixWriter& MixWriter::FirstMemberAt(uint32_t offset) {
    FirstMemberOffset = offset;
    return *this;
}

MixArchive MixWriter::Build() const {
    MixArchive archive;
    std::string& bytes = archive.bytes;
    bytes = MagicBytes + std::string(12, '\0');
    bytes.resize(std::max<size_t>(bytes.size(), FirstMemberOffset), '\0');

    for (const Member& member : Members) {
        PadToMultipleOf8(bytes);
        MixEntry entry{HashName(member.name.c_str()), static_cast<uint32_t>(bytes.size()),
                       static_cast<uint32_t>(member.bytes.size())};
        bytes += member.bytes;
        if (member.placed) {
            entry.offset = member.offset;
            entry.size = member.size;
        }
        if (member.indexed) {
            archive.entries.push_back(entry);
        }
    }
    archive.entries.insert(archive.entries.end(), RawEntries.begin(), RawEntries.end());
    std::stable_sort(archive.entries.begin(), archive.entries.end(),
                     [this](const MixEntry& left, const MixEntry& right) {
                         return Unsorted ? left.crc > right.crc : left.crc < right.crc;
                     });

    PadToMultipleOf8(bytes);
    archive.indexOffset = static_cast<uint32_t>(bytes.size());
    bytes += Le32(CountOverridden ? CountOverride : static_cast<uint32_t>(archive.entries.size()));
    for (const MixEntry& entry : archive.entries) {
        bytes += Le32(entry.crc) + Le32(entry.offset) + Le32(entry.size);
    }

    std::vector<std::string> names = RawNames;
    if (!NamesReplaced) {
        names.clear();
        for (const Member& member : Members) {
            names.push_back(member.name + '\0');
        }
    }
    archive.namesOffset = static_cast<uint32_t>(bytes.size());
    bytes += Le32(NameCountOverridden ? NameCountOverride : static_cast<uint32_t>(names.size()));
    for (const std::string& name : names) {
        bytes += static_cast<char>(name.size());
        bytes += name;
    }

    PutWord(bytes, 4, archive.indexOffset);
    PutWord(bytes, 8, archive.namesOffset);
    return archive;
}

}  // namespace testsupport
