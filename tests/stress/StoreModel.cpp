#include "stress/StoreModel.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "foundation/HashName.h"
#include "support/RecordBytes.h"
#include "support/TestSupport.h"

namespace stress {

namespace {

constexpr uint32_t DataId = 0x44415441;
constexpr uint32_t FileId = 0x46494C45;
constexpr uint32_t EntryId = 0x50434B47;
constexpr uint32_t HoldsChunks = 0x80000000u;

// A cursor over one chunk's payload that fails on anything a sound writer
// would not have written.
struct Cursor {
    std::string_view bytes;
    bool ok = true;

    bool AtEnd() const { return bytes.empty(); }
    uint32_t Word() {
        if (bytes.size() < 4) {
            ok = false;
            return 0;
        }
        const auto byte = [&](int at) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])); };
        const uint32_t value = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
        bytes.remove_prefix(4);
        return value;
    }
    // A text holds no zero byte: the program's strings end at the first one.
    std::string Text() {
        if (bytes.size() < 2) {
            ok = false;
            return std::string();
        }
        const size_t length = static_cast<unsigned char>(bytes[0]) | static_cast<unsigned char>(bytes[1]) << 8;
        bytes.remove_prefix(2);
        if (bytes.size() < length || bytes.substr(0, length).find('\0') != std::string_view::npos) {
            ok = false;
            return std::string();
        }
        std::string text(bytes.substr(0, length));
        bytes.remove_prefix(length);
        return text;
    }
    // The next chunk with this id and flags; its payload becomes `payload`.
    bool Chunk(uint32_t id, uint32_t flags, Cursor& payload) {
        const uint32_t chunkId = Word();
        const uint32_t sizeWord = Word();
        const uint32_t size = sizeWord & ~HoldsChunks;
        if (!ok || chunkId != id || (sizeWord & HoldsChunks) != flags || bytes.size() < size) {
            return ok = false;
        }
        payload = Cursor{bytes.substr(0, size)};
        bytes.remove_prefix(size);
        return true;
    }
};

bool HasUpperCase(const std::string& text) { return text.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != text.npos; }

// One record filling the cursor: a DATA chunk, then FILE chunks. File names
// are read back in lower case, so a sound one is written so.
bool ReadRecordFrom(Cursor cursor, Record& record) {
    Cursor data;
    if (!cursor.Chunk(DataId, 0, data)) {
        return false;
    }
    record.name = data.Text();
    record.version = data.Text();
    record.author = data.Text();
    record.revision = static_cast<int32_t>(data.Word());
    if (!data.ok || !data.AtEnd()) {
        return false;
    }
    record.files.clear();
    while (!cursor.AtEnd()) {
        Cursor entry;
        if (!cursor.Chunk(FileId, 0, entry)) {
            return false;
        }
        ListedFile file;
        file.crc = entry.Word();
        file.size = entry.Word();
        file.name = entry.Text();
        if (!entry.ok || !entry.AtEnd() || HasUpperCase(file.name)) {
            return false;
        }
        record.files.push_back(file);
    }
    return true;
}

}  // namespace

bool ReadRecord(const std::string& bytes, Record& record) { return ReadRecordFrom(Cursor{bytes}, record); }

bool ReadIndex(const std::string& bytes, std::vector<Record>& records) {
    records.clear();
    Cursor cursor{bytes};
    while (!cursor.AtEnd()) {
        Cursor entry;
        Record record;
        if (!cursor.Chunk(EntryId, HoldsChunks, entry) || !ReadRecordFrom(entry, record)) {
            return false;
        }
        records.push_back(record);
    }
    return true;
}

Record RecordOf(const std::string& name, const char* version, const char* author, const std::vector<Member>& members) {
    Record record{name, version, author, 2, {}};
    for (const Member& member : members) {
        std::string lower = member.name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        record.files.push_back({testsupport::Crc(member.bytes), static_cast<uint32_t>(member.bytes.size()), lower});
    }
    return record;
}

uint32_t PackageId(const std::string& name) { return HashName(name.c_str()); }

std::string InfoPath(uint32_t id) {
    char name[32];
    std::snprintf(name, sizeof name, "packages/%08x.kpi", id);
    return name;
}

std::string ContentPath(const ListedFile& file) {
    std::string name;
    for (const char character : file.name) {
        name += std::string_view("\\/:*?\"<>|").find(character) != std::string_view::npos ? '_' : character;
    }
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%08X.", file.crc);
    return "files/" + std::string(checksum) + name;
}

const Installed* StoreModel::Find(uint32_t id) const {
    for (const Installed& package : installed) {
        if (PackageId(package.record.name) == id) {
            return &package;
        }
    }
    return nullptr;
}

std::string StoreModel::ListOutput() const {
    if (installed.empty()) {
        return "No packages are installed.\r\n";
    }
    std::string text = "The following packages are installed:\r\n";
    for (const Installed& package : installed) {
        text += package.record.name + " version " + package.record.version + " by " + package.record.author + "\r\n";
    }
    return text;
}

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsInfoFileName(const std::string& name) {
    return name.size() == 12 && EndsWith(name, ".kpi") && name.find_first_not_of("0123456789abcdef") == 8;
}

}  // namespace

StoreScan StoreScan::Of(const std::string& store) {
    StoreScan scan;
    scan.index = testsupport::ReadFile(store + "/packages.dat");
    for (const std::string& name : testsupport::ListFolder(store)) {
        if (name.rfind("packages.dat.damaged", 0) == 0) {
            scan.damagedCopies.push_back(testsupport::ReadFile(store + "/" + name));
        }
    }
    for (const std::string& name : testsupport::ListFolder(store + "/packages")) {
        if (EndsWith(name, ".part")) {
            scan.parts.insert("packages/" + name);
        } else if (IsInfoFileName(name)) {
            const uint32_t id = static_cast<uint32_t>(std::stoul(name.substr(0, 8), nullptr, 16));
            scan.infoFiles[id] = testsupport::ReadFile(store + "/packages/" + name);
        } else {
            scan.strayInfoNames.push_back(name);
        }
    }
    for (const std::string& name : testsupport::ListFolder(store + "/files")) {
        if (EndsWith(name, ".part")) {
            scan.parts.insert("files/" + name);
        } else {
            scan.contentNames.push_back(name);
        }
    }
    return scan;
}

std::vector<std::string> StoreScan::Unlisted(const std::vector<Record>& records) const {
    std::set<std::string> listed;
    for (const Record& record : records) {
        for (const ListedFile& file : record.files) listed.insert(ContentPath(file));
    }
    std::vector<std::string> unlisted;
    for (const std::string& name : contentNames) {
        if (name[0] != '.' && listed.count("files/" + name) == 0) unlisted.push_back("files/" + name);
    }
    for (const std::string& part : parts) {
        if (part.rfind("files/", 0) == 0 && part[6] != '.' && listed.count(part) == 0) unlisted.push_back(part);
    }
    return unlisted;
}

std::string ContentCheck::Verify(const std::string& relative, uint32_t crc, int64_t size) {
    namespace fs = std::filesystem;
    const fs::path path = Store + "/" + relative;
    std::error_code error;
    const auto actualSize = fs::file_size(path, error);
    if (error) {
        return relative + " is missing";
    }
    if (static_cast<int64_t>(actualSize) != size) {
        return relative + " holds " + std::to_string(actualSize) + " bytes, not " + std::to_string(size);
    }
    const int64_t time = fs::last_write_time(path, error).time_since_epoch().count();
    auto known = Cache.find(relative);
    if (known == Cache.end() || known->second.size != size || known->second.time != time) {
        known =
            Cache.insert_or_assign(relative, Seen{size, time, testsupport::Crc(testsupport::ReadFile(path.string()))})
                .first;
    }
    if (known->second.crc != crc) {
        char text[64];
        std::snprintf(text, sizeof text, " has checksum %08X, not %08X", known->second.crc, crc);
        return relative + text;
    }
    return std::string();
}

}  // namespace stress
