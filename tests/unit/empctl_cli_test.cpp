// The command-line table: what each command line prints, whether it opens
// the device, what it sends, and its exit status.
#include "empctl_cli.h"
#include "empctl_expected.h"
#include "win32_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

struct CommandLineCase {
    const char* Name;
    std::vector<std::string> Arguments; // after the program name
    bool OpenSucceeds;
    std::deque<Win32Reply> Replies;
    std::string Expected;
    int ExitStatus;
    size_t Opens;
    std::vector<DWORD> Codes; // requests sent, in order
};

void PrintTo(const CommandLineCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

class CommandLineTable : public testing::TestWithParam<CommandLineCase> {};

// Runs the program's entry on Arguments (after the program name) against
// Script; returns what it printed and sets ExitStatus.
std::string RunCommandLine(const Win32Script& Script, const std::vector<std::string>& Arguments,
                           int* ExitStatus) {
    StartWin32Script(Script);
    std::vector<std::string> Strings = {"empctl"};
    Strings.insert(Strings.end(), Arguments.begin(), Arguments.end());
    std::vector<char*> Argv;
    Argv.reserve(Strings.size() + 1);
    for (std::string& Text : Strings) {
        Argv.push_back(Text.data());
    }
    Argv.push_back(nullptr);

    *ExitStatus = 12345;
    return CaptureConsole(
        [&] { *ExitStatus = RunEmpctl(static_cast<int>(Strings.size()), Argv.data()); });
}

TEST_P(CommandLineTable, RunsAsTheTableSays) {
    const CommandLineCase& Case = GetParam();
    Win32Script Script;
    Script.OpenSucceeds = Case.OpenSucceeds;
    Script.Replies = Case.Replies;

    int ExitStatus = 0;
    EXPECT_EQ(RunCommandLine(Script, Case.Arguments, &ExitStatus), Case.Expected);
    EXPECT_EQ(ExitStatus, Case.ExitStatus);
    EXPECT_EQ(GetWin32DoubleRecord()->OpenCount, Case.Opens);
    EXPECT_EQ(RecordedCodes(), Case.Codes);
}

const std::string INVALID_AND_USAGE = ExpectedInvalidAndUsage();
const std::string SHOW_ENABLED = EXPECTED_SHOWS_ENABLED;
const std::string DISABLED = std::string(EXPECTED_WROTE) + EXPECTED_DISABLED_CONFIRMATION;
const std::string ENABLED = std::string(EXPECTED_WROTE) + EXPECTED_ENABLED_CONFIRMATION;

CommandLineCase Rejected(const char* Name, std::vector<std::string> Arguments) {
    return {Name, std::move(Arguments), true, {}, INVALID_AND_USAGE, 0, 0, {}};
}

INSTANTIATE_TEST_SUITE_P(
    Usage, CommandLineTable,
    testing::Values(
        CommandLineCase{"NoArgument", {}, true, {}, EXPECTED_USAGE, 0, 0, {}},
        CommandLineCase{"Help", {"/?"}, true, {}, EXPECTED_USAGE, 0, 0, {}},
        CommandLineCase{"HelpWithoutDriver", {"/?"}, false, {}, EXPECTED_USAGE, 0, 0, {}},
        CommandLineCase{"NoArgumentWithoutDriver", {}, false, {}, EXPECTED_USAGE, 0, 0, {}}),
    [](const testing::TestParamInfo<CommandLineCase>& Info) {
        return std::string(Info.param.Name);
    });

INSTANTIATE_TEST_SUITE_P(
    BadCommandLines, CommandLineTable,
    testing::Values(Rejected("UnknownOption", {"/x"}), Rejected("NoSlash", {"s"}),
                    Rejected("Dash", {"-s"}), Rejected("TrailingCharacter", {"/s1"}),
                    Rejected("WholeWord", {"/show"}), Rejected("Empty", {""}),
                    Rejected("SlashAlone", {"/"}), Rejected("DoubleSlash", {"//s"}),
                    Rejected("LeadingSpace", {" /s"}), Rejected("TrailingSpace", {"/s "}),
                    Rejected("NonAsciiLetter", {"/\xC5\xBF"}), Rejected("HighByte", {"/\xD3"}),
                    Rejected("ShowTwice", {"/s", "/s"}), Rejected("HelpAndShow", {"/?", "/s"}),
                    Rejected("ThreeArguments", {"/d", "/r", "/s"}),
                    CommandLineCase{
                        "BadOptionWithoutDriver", {"/x"}, false, {}, INVALID_AND_USAGE, 0, 0, {}}),
    [](const testing::TestParamInfo<CommandLineCase>& Info) {
        return std::string(Info.param.Name);
    });

// A case fold whose range strays past the letters takes a neighbour for
// an option's character: '_' is '?' + 0x20, 0x1F is '?' - 0x20, and the
// other bytes next to 'A'-'Z' and 'a'-'z' fold onto their own neighbours.
// Each is refused like any other unknown option.
INSTANTIATE_TEST_SUITE_P(
    FoldNeighbours, CommandLineTable,
    testing::Values(Rejected("At", {"/@"}), Rejected("OpeningBracket", {"/["}),
                    Rejected("Backslash", {"/\\"}), Rejected("ClosingBracket", {"/]"}),
                    Rejected("Caret", {"/^"}), Rejected("Underscore", {"/_"}),
                    Rejected("Backquote", {"/`"}), Rejected("OpeningBrace", {"/{"}),
                    Rejected("Bar", {"/|"}), Rejected("ClosingBrace", {"/}"}),
                    Rejected("Tilde", {"/~"}), Rejected("Delete", {"/\x7f"}),
                    Rejected("QuestionMarkLess0x20", {"/\x1f"}),
                    Rejected("QuestionMarkPlus0x80", {"/\xbf"}), Rejected("SlashPlus0x20", {"Os"}),
                    Rejected("SlashPlus0x40", {"os"}), Rejected("SlashLess0x20", {"\x0f?"}),
                    Rejected("UpperSLess0x20", {"/3"}), Rejected("UpperDLess0x20", {"/$"}),
                    Rejected("UpperRLess0x20", {"/2"}), Rejected("UpperSLess0x40", {"/\x13"}),
                    Rejected("LowerDPlus0x80", {"/\xe4"}), Rejected("LowerRPlus0x80", {"/\xf2"})),
    [](const testing::TestParamInfo<CommandLineCase>& Info) {
        return std::string(Info.param.Name);
    });

// Beyond the named neighbours: every byte in either place of a two-byte
// option, other than the seven accepted spellings, is refused.
TEST(CommandLine, RefusesEveryOtherByteInEitherPlace) {
    const std::string Accepted[] = {"/?", "/s", "/S", "/d", "/D", "/r", "/R"};
    const std::string Shapes[] = {"/?", "/s", "/d", "/r"};
    for (const std::string& Shape : Shapes) {
        for (unsigned Place = 0; Place < 2; ++Place) {
            for (unsigned Byte = 1; Byte <= 0xFF; ++Byte) {
                std::string Argument = Shape;
                Argument[Place] = static_cast<char>(Byte);
                if (std::find(std::begin(Accepted), std::end(Accepted), Argument) !=
                    std::end(Accepted)) {
                    continue;
                }
                int ExitStatus = 0;
                ASSERT_EQ(RunCommandLine({}, {Argument}, &ExitStatus), INVALID_AND_USAGE)
                    << "byte " << Byte << " in place " << Place << " of " << Shape;
                ASSERT_EQ(ExitStatus, 0);
                ASSERT_EQ(GetWin32DoubleRecord()->OpenCount, 0u);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, CommandLineTable,
    testing::Values(CommandLineCase{"Show",
                                    {"/s"},
                                    true,
                                    {ReplyWithSetting(0, 0xB4)},
                                    SHOW_ENABLED,
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_READ}},
                    CommandLineCase{"ShowUpper",
                                    {"/S"},
                                    true,
                                    {ReplyWithSetting(0, 0xB4)},
                                    SHOW_ENABLED,
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_READ}},
                    CommandLineCase{"Disable",
                                    {"/d"},
                                    true,
                                    {ReplyWithSetting(0, 0x34), ReplyWithSetting(0, 0x34)},
                                    DISABLED,
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_WRITE, EXPECTED_IOCTL_READ}},
                    CommandLineCase{"DisableUpper",
                                    {"/D"},
                                    true,
                                    {ReplyWithSetting(0, 0x34), ReplyWithSetting(0, 0x34)},
                                    DISABLED,
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_WRITE, EXPECTED_IOCTL_READ}},
                    CommandLineCase{"Restore",
                                    {"/r"},
                                    true,
                                    {ReplyWithSetting(0, 0xB4), ReplyWithSetting(0, 0xB4)},
                                    ENABLED,
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_WRITE, EXPECTED_IOCTL_READ}},
                    CommandLineCase{"RestoreUpper",
                                    {"/R"},
                                    true,
                                    {ReplyWithSetting(0, 0xB4), ReplyWithSetting(0, 0xB4)},
                                    ENABLED,
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_WRITE, EXPECTED_IOCTL_READ}},
                    CommandLineCase{"ShowReadFails",
                                    {"/s"},
                                    true,
                                    {ReplyWithFailure(0x1F)},
                                    ExpectedReadbackFailure(0x1F),
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_READ}},
                    CommandLineCase{"RestoreWriteFails",
                                    {"/r"},
                                    true,
                                    {ReplyWithFailure(5), ReplyWithSetting(0, 0x34)},
                                    ExpectedWriteFailure(0x5) +
                                        ExpectedText(EXPECTED_FORMAT_RESTORE_MISMATCH, 0x0, 0x34),
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_WRITE, EXPECTED_IOCTL_READ}},
                    CommandLineCase{"DisableMismatch",
                                    {"/d"},
                                    true,
                                    {ReplyWithSetting(0, 0x34), ReplyWithSetting(0xC1, 0x34)},
                                    EXPECTED_WROTE +
                                        ExpectedText(EXPECTED_FORMAT_DISABLE_MISMATCH, 0xC1, 0x34),
                                    0,
                                    1,
                                    {EXPECTED_IOCTL_WRITE, EXPECTED_IOCTL_READ}}),
    [](const testing::TestParamInfo<CommandLineCase>& Info) {
        return std::string(Info.param.Name);
    });

INSTANTIATE_TEST_SUITE_P(
    NoDriver, CommandLineTable,
    testing::Values(CommandLineCase{"Show", {"/s"}, false, {}, EXPECTED_NO_DEVICE, -1, 1, {}},
                    CommandLineCase{"Disable", {"/d"}, false, {}, EXPECTED_NO_DEVICE, -1, 1, {}},
                    CommandLineCase{
                        "RestoreUpper", {"/R"}, false, {}, EXPECTED_NO_DEVICE, -1, 1, {}}),
    [](const testing::TestParamInfo<CommandLineCase>& Info) {
        return std::string(Info.param.Name);
    });

TEST(CommandLine, AnEmptyArgumentVectorPrintsTheUsage) {
    StartWin32Script({});
    char* Argv[] = {nullptr};
    int ExitStatus = 12345;
    EXPECT_EQ(CaptureConsole([&] { ExitStatus = RunEmpctl(0, Argv); }), EXPECTED_USAGE);
    EXPECT_EQ(ExitStatus, 0);
    EXPECT_EQ(GetWin32DoubleRecord()->OpenCount, 0u);
}

} // namespace
