// A "paths.ini" from a game folder: parsed from memory by the INI reader and
// asked for the keys that the data-path discovery looks up.
#include <cstring>

#include "FuzzTargets.h"
#include "config/IniFile.h"
#include "file/MemoryFile.h"

namespace {

bool IsTrimmed(const char* text) {
    const size_t length = std::strlen(text);
    auto blank = [](char byte) { return byte >= 0x01 && byte <= 0x20; };
    return length == 0 || (!blank(text[0]) && !blank(text[length - 1]));
}

bool EqualIgnoringCase(const char* left, const char* right) {
    auto lower = [](unsigned char byte) { return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte; };
    for (;; ++left, ++right) {
        if (lower(*left) != lower(*right)) {
            return false;
        }
        if (*left == 0) {
            return true;
        }
    }
}

}  // namespace

int FuzzIniFile(const uint8_t* data, size_t size) {
    if (size > FuzzMaxInputSize) {
        return 0;
    }
    MemoryFile input;
    input.Write(data, static_cast<int>(size));
    input.Seek(0, FileClass::FromStart);
    IniFile ini;
    ini.file = &input;
    ini.Load();

    const IniSection* firstPaths = nullptr;
    for (int index = 0; index < ini.GetSectionCount(); ++index) {
        const IniSection& section = ini.GetSection(index);
        for (int key = 0; key < section.keys.Count(); ++key) {
            FUZZ_CHECK(IsTrimmed(section.keys[key]->name) && IsTrimmed(section.keys[key]->value));
        }
        if (firstPaths == nullptr && EqualIgnoringCase(section.name, "paths") && section.keys.Count() > 0) {
            firstPaths = &section;
        }
    }
    // The first key of the first "paths" section is what a look-up of its
    // name must find: nothing comes before it in search order.
    if (firstPaths != nullptr) {
        const IniKey& first = *firstPaths->keys[0];
        FUZZ_CHECK(std::strcmp(ini.GetString(first.name, nullptr), first.value) == 0);
    }
    ini.GetString("FileBase", "Ironveil");
    ini.GetString("FileFDS", "FDS");
    ini.GetString("UseIvoFolder", nullptr);
    ini.Clear();
    FUZZ_CHECK(ini.GetSectionCount() == 0);
    return 0;
}
