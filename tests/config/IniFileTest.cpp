#include <gtest/gtest.h>

#include <string>

#include "config/IniFile.h"
#include "file/MemoryFile.h"

namespace {

// All bytes of a literal, zero bytes included.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// The value GetString gives for a key of a document with the given text.
std::string Lookup(const std::string& text, const char* key, const char* defaultValue = "<default>") {
    MemoryFile file;
    file.Write(text.data(), static_cast<int>(text.size()));
    file.Seek(0, FileClass::FromStart);
    IniFile document;
    document.file = &file;
    document.Load();
    return document.GetString(key, defaultValue).Peek();
}

struct LookupCase {
    const char* description;
    std::string text;
    const char* key;
    const char* expected;
};

class IniFileLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(IniFileLookupTest, GivesTheExpectedValue) {
    EXPECT_EQ(Lookup(GetParam().text, GetParam().key), GetParam().expected) << GetParam().description;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, IniFileLookupTest,
    ::testing::Values(
        LookupCase{"names ignore case, value trimmed of blank and CR", "[Paths]\r\nfilebase = Games \r\n", "FileBase",
                   "Games"},
        LookupCase{"key before the first header is ignored", "FileBase=Early\n[paths]\nOther=1\n", "FileBase",
                   "<default>"},
        LookupCase{"blanks inside the brackets stay", "[ paths ]\nFileBase=Spaced\n", "FileBase", "<default>"},
        LookupCase{"header without ] is ignored", "[paths]\n[broken\nFileBase=Kept\n", "FileBase", "Kept"},
        LookupCase{"header without ] keeps the section before it", "[other]\n[paths\nFileBase=Lost\n", "FileBase",
                   "<default>"},
        LookupCase{"split at the last =", "[paths]\na=b=c\n", "a=b", "c"},
        LookupCase{"the name before the last = is not a", "[paths]\na=b=c\n", "a", "<default>"},
        LookupCase{"two sections named paths, first match wins",
                   "[paths]\nx=1\n[other]\nkey=0\n[PATHS]\nkey=2\nkey=3\n", "key", "2"},
        LookupCase{"empty value is not the default", "[paths]\nFileBase=\n", "FileBase", ""},
        LookupCase{"comment lines after blanks", "[paths]\n  ;FileBase=Semi\n\t#FileBase=Hash\nFileFDS=x\n", "FileBase",
                   "<default>"},
        LookupCase{"values may hold ; and #", "[paths]\nFileBase=a;b#c\n", "FileBase", "a;b#c"},
        LookupCase{"zero byte ends the text", Bytes("[paths]\nFileBase=Before\0\nFileFDS=After\n"), "FileFDS",
                   "<default>"},
        LookupCase{"text after ] is ignored", "[paths] trailing\nFileBase=T\n", "FileBase", "T"},
        LookupCase{"runs of line feeds and a last line without one", "\n\n[paths]\n\n\n\nFileBase=Last", "FileBase",
                   "Last"},
        LookupCase{"high bytes are not trimmed", "[paths]\nFileBase=\xA0x\xA0\n", "FileBase", "\xA0x\xA0"},
        LookupCase{"empty file", "", "FileBase", "<default>"}));

TEST(IniFileTest, ZeroByteCaseReallyHoldsTheKeyAfterIt) {
    // Guards the case above: without the zero byte the key is found.
    EXPECT_EQ(Lookup("[paths]\nFileBase=Before\n\nFileFDS=After\n", "FileFDS"), "After");
}

TEST(IniFileTest, AbsentKeyWithoutDefaultIsEmpty) { EXPECT_EQ(Lookup("[paths]\n", "FileBase", nullptr), ""); }

TEST(IniFileTest, DuplicatesStayAndLoadReplacesEarlierContents) {
    MemoryFile file;
    const std::string text = "[a]\nk=1\nk=2\n[a]\n";
    file.Write(text.data(), static_cast<int>(text.size()));
    file.Seek(0, FileClass::FromStart);
    IniFile document;
    document.file = &file;
    document.Load();
    ASSERT_EQ(document.GetSectionCount(), 2);
    EXPECT_EQ(document.GetSection(0).keys.Count(), 2);
    file.Seek(0, FileClass::FromStart);
    document.Load();
    EXPECT_EQ(document.GetSectionCount(), 2);
    document.Clear();
    EXPECT_EQ(document.GetSectionCount(), 0);
}

}  // namespace
