#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "platform/FileSystem.h"
#include "platform/ShellFolders.h"
#include "support/TestSupport.h"

namespace {

const wchar_t* const UserShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Points the user's Documents folder somewhere else for one test and puts the
// setting back afterwards. CTest runs each test in a program of its own, in
// parallel, and all of them share the user's registry: a named mutex keeps a
// second test from changing the setting, or saving another test's change as
// the one to put back, while the first one holds it.
class DocumentsFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Turn = CreateMutexW(nullptr, FALSE, L"Local\\QuillboxDocumentsFolderTest");
        ASSERT_NE(Turn, nullptr);
        const DWORD waited = WaitForSingleObject(Turn, INFINITE);
        ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED);
        HoldsTurn = true;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, UserShellFolders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &Key),
                  ERROR_SUCCESS);
        DWORD size = sizeof Saved;
        HadValue = RegQueryValueExW(Key, L"Personal", nullptr, &SavedType, reinterpret_cast<BYTE*>(Saved), &size) ==
                   ERROR_SUCCESS;
    }

    void TearDown() override {
        if (Key != nullptr) {
            PutSettingBack();
        }
        if (HoldsTurn) {
            ReleaseMutex(Turn);
        }
        if (Turn != nullptr) {
            CloseHandle(Turn);
        }
    }

    void PutSettingBack() {
        if (HadValue) {
            RegSetValueExW(Key, L"Personal", 0, SavedType, reinterpret_cast<const BYTE*>(Saved),
                           static_cast<DWORD>((wcslen(Saved) + 1) * sizeof(wchar_t)));
        } else {
            RegDeleteValueW(Key, L"Personal");
        }
        RegCloseKey(Key);
    }

    // Makes a folder of this name below the temporary folder and the user's
    // Documents folder.
    std::wstring MoveDocumentsTo(const std::wstring& name) {
        const std::wstring folder = Widen(Scratch.Path()) + L"\\" + name;
        EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        EXPECT_EQ(RegSetValueExW(Key, L"Personal", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                                 static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        return folder;
    }

    static std::wstring Widen(const std::string& text) {
        std::wstring wide(text.size(), L'\0');
        for (size_t index = 0; index < text.size(); ++index) {
            wide[index] = static_cast<unsigned char>(text[index]);
        }
        return wide;
    }

    testsupport::TempDir Scratch;
    HANDLE Turn = nullptr;
    bool HoldsTurn = false;
    HKEY Key = nullptr;
    bool HadValue = false;
    DWORD SavedType = REG_EXPAND_SZ;
    wchar_t Saved[1024] = {};
};

TEST_F(DocumentsFolderTest, NameWithinTheFirst256CodePointsIsGivenInTheAnsiCodePage) {
    // "Dokumente für Anna": the u with diaeresis is U+00FC.
    const std::wstring folder = MoveDocumentsTo(L"Dokumente f\u00fcr Anna");
    std::string found;
    ASSERT_TRUE(platform::GetDocumentsFolder(found));
    char expected[MAX_PATH] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, expected, sizeof expected, nullptr, nullptr), 0);
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(platform::PathExists(found.c_str()));
}

TEST_F(DocumentsFolderTest, NameWithACodeUnitAbove255CountsAsAFailedLookup) {
    MoveDocumentsTo(L"Papers \u4e2d");
    std::string found = "unchanged";
    EXPECT_FALSE(platform::GetDocumentsFolder(found));
    EXPECT_EQ(found, "unchanged");
}

TEST(ShellFoldersTest, ApplicationDataFolderExistsWithoutTrailingSeparator) {
    std::string folder;
    ASSERT_TRUE(platform::GetApplicationDataFolder(folder));
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_TRUE(platform::PathExists(folder.c_str()));
}

TEST(ProgramFolderTest, HoldsTheRunningProgramAndEndsWithoutSeparator) {
    const std::string folder = platform::GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_TRUE(platform::PathExists((folder + "\\test_platform.exe").c_str()));
}

TEST(ProgramFolderTest, ProgramFilesFoldersHoldNoDataFolders) {
    char programFiles[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE));
    const std::string folder = programFiles;
    EXPECT_TRUE(platform::IsSystemProgramFolder(folder));
    EXPECT_TRUE(platform::IsSystemProgramFolder(folder + "\\Game\\Bin"));
    EXPECT_FALSE(platform::MayHoldDataFolders(folder + "\\Game"));
    EXPECT_FALSE(platform::IsSystemProgramFolder(folder + "Extra"));
    testsupport::TempDir writable;
    EXPECT_FALSE(platform::IsSystemProgramFolder(writable.Path()));
    EXPECT_TRUE(platform::MayHoldDataFolders(writable.Path()));
    EXPECT_FALSE(platform::MayHoldDataFolders(writable.Path() + "\\missing"));
}

}  // namespace
