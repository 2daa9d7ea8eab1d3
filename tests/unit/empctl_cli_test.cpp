// The command-line table: what each command line prints, whether it opens
// the device, what it sends, and its exit status.
#include "empctl_cli.h"
#include "scripted_win32.h"

#include <gtest/gtest.h>

namespace {

const char USAGE[] = "Please specify one of the following options to run the tool!\n"
                     "\t/s       Display current EMP com2 port setting.\n"
                     "\t/d       Disable EMP on com2 port.\n"
                     "\t/r       Restore EMP on com2 port.\n";
const char INVALID[] = "Invalid command options!\n";
const char NO_DEVICE[] = "Unable to open handle to IPMI driver!\n";
const char WRITE_SUCCESS[] = "Successfully wrote IPMI setting\nVerifying setting....\n";
const char NOTICE[] = "Please shutdown the system, remove both power cords from the system for 20 "
                      "seconds, reinsert line cables and reboot for the settings to take effect.\n";

const DWORD READ = 0x810C4C08u;
const DWORD WRITE = 0x810C4C0Cu;

struct CommandLineCase {
    const char* Name;
    std::vector<std::string> Arguments; // after the program name
    bool OpenSucceeds;
    std::deque<ScriptedReply> Replies;
    std::string Expected;
    int ExitStatus;
    size_t Opens;
    std::vector<DWORD> Codes; // requests sent, in order
};

void PrintTo(const CommandLineCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

class CommandLineTable : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTable, RunsAsTheTableSays) {
    const CommandLineCase& Case = GetParam();
    Win32Script Script;
    Script.OpenSucceeds = Case.OpenSucceeds;
    Script.Replies = Case.Replies;
    StartWin32Script(Script);

    std::vector<std::string> Strings = {"empctl"};
    Strings.insert(Strings.end(), Case.Arguments.begin(), Case.Arguments.end());
    std::vector<char*> Argv;
    Argv.reserve(Strings.size() + 1);
    for (std::string& Text : Strings) {
        Argv.push_back(Text.data());
    }
    Argv.push_back(nullptr);

    int ExitStatus = 12345;
    const std::string Output = CaptureConsole(
        [&] { ExitStatus = RunEmpctl(static_cast<int>(Strings.size()), Argv.data()); });

    EXPECT_EQ(Output, Case.Expected);
    EXPECT_EQ(ExitStatus, Case.ExitStatus);
    EXPECT_EQ(GetRecordedOpens().size(), Case.Opens);
    std::vector<DWORD> Codes;
    for (const RecordedRequest& Request : GetRecordedRequests()) {
        Codes.push_back(Request.Code);
    }
    EXPECT_EQ(Codes, Case.Codes);
}

const std::string INVALID_AND_USAGE = std::string(INVALID) + USAGE;
const std::string SHOW_ENABLED = "\n\nEMP on Com2 port is currently enabled!\n\n";
const std::string DISABLED =
    std::string(WRITE_SUCCESS) + "\n\nEMP on com2 has been disabled!\n\n" + NOTICE;
const std::string ENABLED =
    std::string(WRITE_SUCCESS) + "\n\nEMP on Com2 port has been enabled!\n\n" + NOTICE;

CommandLineCase Rejected(const char* Name, std::vector<std::string> Arguments) {
    return {Name, std::move(Arguments), true, {}, INVALID_AND_USAGE, 0, 0, {}};
}

INSTANTIATE_TEST_SUITE_P(
    Usage, CommandLineTable,
    testing::Values(CommandLineCase{"NoArgument", {}, true, {}, USAGE, 0, 0, {}},
                    CommandLineCase{"Help", {"/?"}, true, {}, USAGE, 0, 0, {}},
                    CommandLineCase{"HelpWithoutDriver", {"/?"}, false, {}, USAGE, 0, 0, {}},
                    CommandLineCase{"NoArgumentWithoutDriver", {}, false, {}, USAGE, 0, 0, {}}),
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

INSTANTIATE_TEST_SUITE_P(
    Actions, CommandLineTable,
    testing::Values(
        CommandLineCase{
            "Show", {"/s"}, true, {ReplyWithSetting(0, 0xB4)}, SHOW_ENABLED, 0, 1, {READ}},
        CommandLineCase{
            "ShowUpper", {"/S"}, true, {ReplyWithSetting(0, 0xB4)}, SHOW_ENABLED, 0, 1, {READ}},
        CommandLineCase{"Disable",
                        {"/d"},
                        true,
                        {ReplyWithSetting(0, 0x34), ReplyWithSetting(0, 0x34)},
                        DISABLED,
                        0,
                        1,
                        {WRITE, READ}},
        CommandLineCase{"DisableUpper",
                        {"/D"},
                        true,
                        {ReplyWithSetting(0, 0x34), ReplyWithSetting(0, 0x34)},
                        DISABLED,
                        0,
                        1,
                        {WRITE, READ}},
        CommandLineCase{"Restore",
                        {"/r"},
                        true,
                        {ReplyWithSetting(0, 0xB4), ReplyWithSetting(0, 0xB4)},
                        ENABLED,
                        0,
                        1,
                        {WRITE, READ}},
        CommandLineCase{"RestoreUpper",
                        {"/R"},
                        true,
                        {ReplyWithSetting(0, 0xB4), ReplyWithSetting(0, 0xB4)},
                        ENABLED,
                        0,
                        1,
                        {WRITE, READ}},
        CommandLineCase{"ShowReadFails",
                        {"/s"},
                        true,
                        {ReplyWithFailure(0x1F)},
                        "Could not readback IPMI setting, status = 0x1f\n",
                        0,
                        1,
                        {READ}},
        CommandLineCase{"RestoreWriteFails",
                        {"/r"},
                        true,
                        {ReplyWithFailure(5), ReplyWithSetting(0, 0x34)},
                        "Could not write IPMI setting, status = 0x5\n"
                        "IPMI status 0x0 read 0x34, expected 0xb4\n",
                        0,
                        1,
                        {WRITE, READ}},
        CommandLineCase{"DisableMismatch",
                        {"/d"},
                        true,
                        {ReplyWithSetting(0, 0x34), ReplyWithSetting(0xC1, 0x34)},
                        std::string(WRITE_SUCCESS) + "IPMI status 0xc1 read 0x34, expected 0x34\n",
                        0,
                        1,
                        {WRITE, READ}}),
    [](const testing::TestParamInfo<CommandLineCase>& Info) {
        return std::string(Info.param.Name);
    });

INSTANTIATE_TEST_SUITE_P(
    NoDriver, CommandLineTable,
    testing::Values(CommandLineCase{"Show", {"/s"}, false, {}, NO_DEVICE, -1, 1, {}},
                    CommandLineCase{"Disable", {"/d"}, false, {}, NO_DEVICE, -1, 1, {}},
                    CommandLineCase{"RestoreUpper", {"/R"}, false, {}, NO_DEVICE, -1, 1, {}}),
    [](const testing::TestParamInfo<CommandLineCase>& Info) {
        return std::string(Info.param.Name);
    });

TEST(CommandLine, AnEmptyArgumentVectorPrintsTheUsage) {
    StartWin32Script({});
    char* Argv[] = {nullptr};
    int ExitStatus = 12345;
    EXPECT_EQ(CaptureConsole([&] { ExitStatus = RunEmpctl(0, Argv); }), USAGE);
    EXPECT_EQ(ExitStatus, 0);
    EXPECT_TRUE(GetRecordedOpens().empty());
}

} // namespace
