#pragma once

#include "foundation/SimpleVecClass.h"
#include "foundation/StringClass.h"

class FileClass;

// One name/value line of a section, both trimmed.
struct IniKey {
    StringClass name;
    StringClass value;
};

// The keys below one "[name]" header, in file order; duplicates stay.
struct IniSection {
    IniSection() = default;
    ~IniSection();
    IniSection(const IniSection&) = delete;
    IniSection& operator=(const IniSection&) = delete;

    StringClass name;
    SimpleDynVecClass<IniKey*> keys;
};

// A read-only INI document. The caller opens `file`, hands it over and gives
// it back to its factory afterwards; the document never opens or closes it.
class IniFile {
public:
    IniFile() = default;
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Parses the whole of `file` (open for reading), replacing the sections.
    void Load();
    void Clear();

    // The value of the first key of that name in the sections named "paths"
    // (names compared without regard to letter case); else defaultValue, or an
    // empty text when that is null.
    StringClass GetString(const char* key, const char* defaultValue) const;

    int GetSectionCount() const { return sections.Count(); }
    const IniSection& GetSection(int index) const { return *sections[index]; }

    FileClass* file = nullptr;

private:
    void ParseLine(char* line, IniSection*& current);

    SimpleDynVecClass<IniSection*> sections;
};
