#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

#include "support/TestSupport.h"

using testsupport::RunProgram;
using testsupport::TempDir;

namespace {

const std::string HelpText =
    "You specified an invalid or unknown command. Possible commands are:\r\n"
    "\r\n"
    "list\r\n"
    "convert <mixFile> <version> <authorName>\r\n"
    "install <packageName>\r\n"
    "uninstall <packageName>\r\n"
    "download <packageName> <repositoryUrl>\r\n"
    "trust <repositoryUrl> <publicKeyFile>\r\n"
    "verify\r\n"
    "\r\n"
    "See http://quillbox.example/r/quillbox for detailed documentation.\r\n"
    "\r\n";

struct DispatchCase {
    std::vector<std::string> arguments;
    std::string expectedError;
};

// The command line as the test's name shows it, e.g. `install` or `(none)`.
void PrintTo(const DispatchCase& dispatch, std::ostream* out) {
    if (dispatch.arguments.empty()) {
        *out << "(none)";
    }
    for (size_t index = 0; index < dispatch.arguments.size(); ++index) {
        *out << (index > 0 ? " " : "") << '"' << dispatch.arguments[index] << '"';
    }
}

class CommandDispatchTest : public ::testing::TestWithParam<DispatchCase> {};

// A script must see that nothing was done: every one of these exits with 1.
TEST_P(CommandDispatchTest, PrintsTheExpectedTextOnStandardErrorAndExitsWithOne) {
    TempDir folder;
    const auto result = RunProgram(QUILLBOX_EXE, GetParam().arguments, folder.Path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, GetParam().expectedError);
}

INSTANTIATE_TEST_SUITE_P(
    HelpAndUsage, CommandDispatchTest,
    ::testing::Values(DispatchCase{{}, HelpText}, DispatchCase{{"installs"}, HelpText}, DispatchCase{{"lis"}, HelpText},
                      DispatchCase{{""}, HelpText}, DispatchCase{{"--helps"}, HelpText}, DispatchCase{{"-v"}, HelpText},
                      DispatchCase{{"install"}, "Usage: install <packageName>\r\n"},
                      DispatchCase{{"INSTALL"}, "Usage: install <packageName>\r\n"},
                      DispatchCase{{"UnInstall"}, "Usage: uninstall <packageName>\r\n"},
                      DispatchCase{{"download", "Maps"}, "Usage: download <packageName> <repositoryUrl>\r\n"},
                      DispatchCase{{"convert", "a.mix", "1.0"}, "Usage: convert <mixFile> <version> <authorName>\r\n"},
                      DispatchCase{{"CONVERT"}, "Usage: convert <mixFile> <version> <authorName>\r\n"}));

// The conventions of command-line tools: asked for, help and the version are
// answers on standard output with exit code 0, and touch no store.
TEST(CommandConventionsTest, HelpAndVersionPrintOnStandardOutputAndExitWithZero) {
    TempDir folder;
    for (const char* word : {"help", "HELP", "-h", "--help", "--Help"}) {
        const auto result = RunProgram(QUILLBOX_EXE, {word, "extra"}, folder.Path());
        EXPECT_EQ(result.exitCode, 0) << word;
        EXPECT_EQ(result.out, "Possible commands are:\r\n" + HelpText.substr(HelpText.find("\r\n") + 2)) << word;
        EXPECT_EQ(result.err, "") << word;
    }
    for (const char* word : {"version", "--version", "VERSION"}) {
        const auto result = RunProgram(QUILLBOX_EXE, {word}, folder.Path());
        EXPECT_EQ(result.exitCode, 0) << word;
        EXPECT_EQ(result.out, "Quillbox 4.00\r\n") << word;
        EXPECT_EQ(result.err, "") << word;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

}  // namespace
