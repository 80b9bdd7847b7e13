#include "config/IniFile.h"

#include <cstring>
#include <new>

#include "file/FileClass.h"

namespace {

bool EqualIgnoringCase(const char* left, const char* right) {
    for (;; ++left, ++right) {
        char a = *left;
        char b = *right;
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) {
            return false;
        }
        if (a == 0) {
            return true;
        }
    }
}

// A copy of text[0..length) as a string.
StringClass Slice(const char* text, size_t length) {
    StringClass slice;
    char* buffer = slice.GetBuffer(static_cast<int>(length + 1));
    std::memcpy(buffer, text, length);
    buffer[length] = 0;
    return slice;
}

// The whole file followed by a zero byte, so a zero byte inside it ends the
// text. Null when the memory cannot be had.
char* ReadWholeText(FileClass* file) {
    const int size = file->Size();
    const int length = size > 0 ? size : 0;
    char* text = new (std::nothrow) char[static_cast<size_t>(length) + 1];
    if (text == nullptr) {
        return nullptr;
    }
    const int read = length > 0 ? file->Read(text, length) : 0;
    text[read > 0 ? read : 0] = 0;
    return text;
}

}  // namespace

IniSection::~IniSection() {
    for (int index = 0; index < keys.Count(); ++index) {
        delete keys[index];
    }
}

IniFile::~IniFile() { Clear(); }

void IniFile::Clear() {
    for (int index = 0; index < sections.Count(); ++index) {
        delete sections[index];
    }
    sections.Resize(0);
}

void IniFile::Load() {
    Clear();
    if (file == nullptr) {
        return;
    }
    char* text = ReadWholeText(file);
    if (text == nullptr) {
        return;
    }
    IniSection* current = nullptr;
    char* line = text;
    while (*line != 0) {
        char* end = std::strchr(line, '\n');
        char* next = end != nullptr ? end + 1 : line + std::strlen(line);
        if (end != nullptr) {
            *end = 0;
        }
        ParseLine(line, current);
        line = next;
    }
    delete[] text;
}

void IniFile::ParseLine(char* line, IniSection*& current) {
    if (*line == 0) {
        return;  // An empty segment between two line feeds is no line at all.
    }
    TrimWhitespace(line);
    if (line[0] == '#' || line[0] == ';') {
        return;
    }
    if (line[0] == '[') {
        const char* close = std::strchr(line, ']');
        if (close == nullptr) {
            return;
        }
        IniSection* section = new (std::nothrow) IniSection;
        if (section == nullptr) {
            return;
        }
        section->name = Slice(line + 1, static_cast<size_t>(close - line - 1));
        if (!sections.Add(section)) {
            delete section;
            return;
        }
        current = section;
        return;
    }
    char* equals = current != nullptr ? std::strrchr(line, '=') : nullptr;
    if (equals == nullptr) {
        return;
    }
    *equals = 0;
    IniKey* key = new (std::nothrow) IniKey;
    if (key == nullptr) {
        return;
    }
    key->name = TrimWhitespace(line);
    key->value = TrimWhitespace(equals + 1);
    if (!current->keys.Add(key)) {
        delete key;
    }
}

StringClass IniFile::GetString(const char* key, const char* defaultValue) const {
    for (int sectionIndex = 0; sectionIndex < sections.Count(); ++sectionIndex) {
        const IniSection& section = *sections[sectionIndex];
        if (!EqualIgnoringCase(section.name, "paths")) {
            continue;
        }
        for (int keyIndex = 0; keyIndex < section.keys.Count(); ++keyIndex) {
            if (EqualIgnoringCase(section.keys[keyIndex]->name, key)) {
                return section.keys[keyIndex]->value;
            }
        }
    }
    return StringClass(defaultValue);
}
