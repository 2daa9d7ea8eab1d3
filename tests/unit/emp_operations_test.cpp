// Each row of the show and change operations' message and failure tables.
#include "emp_operations.h"
#include "ipmi_channel.h"
#include "scripted_win32.h"

#include <gtest/gtest.h>

namespace {

const char DISABLED_CONFIRMATION[] =
    "\n\nEMP on com2 has been disabled!\n\nPlease shutdown the system, remove both power cords "
    "from the system for 20 seconds, reinsert line cables and reboot for the settings to take "
    "effect.\n";
const char ENABLED_CONFIRMATION[] =
    "\n\nEMP on Com2 port has been enabled!\n\nPlease shutdown the system, remove both power "
    "cords from the system for 20 seconds, reinsert line cables and reboot for the settings to "
    "take effect.\n";
const char WRITE_SUCCESS[] = "Successfully wrote IPMI setting\nVerifying setting....\n";

std::string RunScripted(const std::deque<ScriptedReply>& Replies,
                        const std::function<void()>& Operation) {
    Win32Script Script;
    Script.Replies = Replies;
    StartWin32Script(Script);
    EXPECT_TRUE(OpenIpmiDevice());
    return CaptureConsole(Operation);
}

struct ShowCase {
    const char* Name;
    ScriptedReply Reply;
    std::string Expected;
};

void PrintTo(const ShowCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

class ShowEmpSettingTable : public testing::TestWithParam<ShowCase> {};

TEST_P(ShowEmpSettingTable, PrintsTheOutcome) {
    const ShowCase& Case = GetParam();
    EXPECT_EQ(RunScripted({Case.Reply}, ShowEmpSetting), Case.Expected);

    ASSERT_EQ(GetRecordedRequests().size(), 1u);
    EXPECT_EQ(GetRecordedRequests()[0].Code, IOCTL_IPMI_READ_SETTING);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ShowEmpSettingTable,
    testing::Values(ShowCase{"Disabled", ReplyWithSetting(0x00, 0x34),
                             "\n\nEMP on Com2 port is currently disabled!\n\n"},
                    ShowCase{"Enabled", ReplyWithSetting(0x00, 0xB4),
                             "\n\nEMP on Com2 port is currently enabled!\n\n"},
                    ShowCase{"UnknownSetting", ReplyWithSetting(0x00, 0x35),
                             "IPMI status 0x0 read 0x35, expected 0x34 or 0xb4\n"},
                    ShowCase{"SingleDigitSetting", ReplyWithSetting(0x00, 0x04),
                             "IPMI status 0x0 read 0x4, expected 0x34 or 0xb4\n"},
                    ShowCase{"StatusOutweighsEnabled", ReplyWithSetting(0xC1, 0xB4),
                             "IPMI status 0xc1 read 0xb4, expected 0x34 or 0xb4\n"},
                    ShowCase{"StatusOutweighsDisabled", ReplyWithSetting(0x01, 0x34),
                             "IPMI status 0x1 read 0x34, expected 0x34 or 0xb4\n"},
                    ShowCase{"AllOnes", ReplyWithSetting(0xFF, 0xFF),
                             "IPMI status 0xff read 0xff, expected 0x34 or 0xb4\n"},
                    ShowCase{"NothingReturned", ReplyWithSetting(0x00, 0x34, 0),
                             "IPMI status 0x0 read 0x0, expected 0x34 or 0xb4\n"},
                    ShowCase{"SettingNotReturned", ReplyWithSetting(0x00, 0xB4, 2),
                             "IPMI status 0x0 read 0x0, expected 0x34 or 0xb4\n"},
                    ShowCase{"JustEnoughReturned", ReplyWithSetting(0x00, 0xB4, 3),
                             "\n\nEMP on Com2 port is currently enabled!\n\n"},
                    ShowCase{"ReadFailsWithOne", ReplyWithFailure(1),
                             "Could not readback IPMI setting, status = 0x1\n"},
                    ShowCase{"ReadFailsWithZero", ReplyWithFailure(0),
                             "Could not readback IPMI setting, status = 0x0\n"},
                    ShowCase{"ReadFailsWithAllBits", ReplyWithFailure(0xFFFFFFFFu),
                             "Could not readback IPMI setting, status = 0xffffffff\n"},
                    ShowCase{"ReadFailsWithMixedDigits", ReplyWithFailure(0x45D),
                             "Could not readback IPMI setting, status = 0x45d\n"}),
    [](const testing::TestParamInfo<ShowCase>& Info) { return std::string(Info.param.Name); });

struct ChangeCase {
    const char* Name;
    uint8_t Target;
    ScriptedReply WriteReply;
    ScriptedReply ReadReply;
    std::string Expected;
};

void PrintTo(const ChangeCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

class ChangeEmpSettingTable : public testing::TestWithParam<ChangeCase> {};

TEST_P(ChangeEmpSettingTable, WritesReadsBackAndPrintsTheOutcome) {
    const ChangeCase& Case = GetParam();
    EXPECT_EQ(
        RunScripted({Case.WriteReply, Case.ReadReply}, [&] { ChangeEmpSetting(Case.Target); }),
        Case.Expected);

    // One write, then one read-back, whatever the outcome: no retry.
    ASSERT_EQ(GetRecordedRequests().size(), 2u);
    EXPECT_EQ(GetRecordedRequests()[0].Code, IOCTL_IPMI_WRITE_SETTING);
    EXPECT_EQ(GetRecordedRequests()[0].Input,
              (std::vector<uint8_t>{0x01, 0x01, 0x00, Case.Target}));
    EXPECT_EQ(GetRecordedRequests()[1].Code, IOCTL_IPMI_READ_SETTING);
    EXPECT_EQ(CountUnusedReplies(), 0u);
}

const ScriptedReply WRITE_OK = ReplyWithSetting(0x00, 0x00);

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ChangeEmpSettingTable,
    testing::Values(
        ChangeCase{"DisableConfirmed", 0x34, WRITE_OK, ReplyWithSetting(0x00, 0x34),
                   std::string(WRITE_SUCCESS) + DISABLED_CONFIRMATION},
        ChangeCase{"RestoreConfirmed", 0xB4, WRITE_OK, ReplyWithSetting(0x00, 0xB4),
                   std::string(WRITE_SUCCESS) + ENABLED_CONFIRMATION},
        ChangeCase{"DisableWriteFailsButReadBackConfirms", 0x34, ReplyWithFailure(0x1F),
                   ReplyWithSetting(0x00, 0x34),
                   std::string("Could not write IPMI setting, status = 0x1f\n") +
                       DISABLED_CONFIRMATION},
        ChangeCase{"RestoreReadsBackTheOtherSetting", 0xB4, WRITE_OK, ReplyWithSetting(0x00, 0x34),
                   std::string(WRITE_SUCCESS) + "IPMI status 0x0 read 0x34, expected 0xb4\n"},
        ChangeCase{"DisableReadsBackTheOtherSetting", 0x34, WRITE_OK, ReplyWithSetting(0x00, 0xB4),
                   std::string(WRITE_SUCCESS) + "IPMI status 0x0 read 0xb4, expected 0x34\n"},
        ChangeCase{"DisableStatusOutweighsMatch", 0x34, WRITE_OK, ReplyWithSetting(0xC1, 0x34),
                   std::string(WRITE_SUCCESS) + "IPMI status 0xc1 read 0x34, expected 0x34\n"},
        ChangeCase{"RestoreUnknownSetting", 0xB4, WRITE_OK, ReplyWithSetting(0x00, 0x05),
                   std::string(WRITE_SUCCESS) + "IPMI status 0x0 read 0x5, expected 0xb4\n"},
        ChangeCase{"RestoreReadBackFails", 0xB4, WRITE_OK, ReplyWithFailure(0x45D),
                   std::string(WRITE_SUCCESS) +
                       "Could not readback IPMI setting, status = 0x45d\n"},
        ChangeCase{"DisableBothFail", 0x34, ReplyWithFailure(0xFFFFFFFFu), ReplyWithFailure(0),
                   "Could not write IPMI setting, status = 0xffffffff\n"
                   "Could not readback IPMI setting, status = 0x0\n"},
        ChangeCase{"RestoreWriteFailsReadBackMismatches", 0xB4, ReplyWithFailure(1),
                   ReplyWithSetting(0x00, 0x34),
                   "Could not write IPMI setting, status = 0x1\n"
                   "IPMI status 0x0 read 0x34, expected 0xb4\n"},
        // The write's reply carried the target; a read-back that returns
        // nothing must not be taken for a confirmation.
        ChangeCase{"DisableEmptyReadBackAfterMatchingWriteReply", 0x34,
                   ReplyWithSetting(0x00, 0x34), ReplyWithSetting(0x00, 0x34, 0),
                   std::string(WRITE_SUCCESS) + "IPMI status 0x0 read 0x0, expected 0x34\n"},
        ChangeCase{"RestoreShortReadBackAfterMatchingWriteReply", 0xB4,
                   ReplyWithSetting(0x00, 0xB4), ReplyWithSetting(0x00, 0xB4, 2),
                   std::string(WRITE_SUCCESS) + "IPMI status 0x0 read 0x0, expected 0xb4\n"}),
    [](const testing::TestParamInfo<ChangeCase>& Info) { return std::string(Info.param.Name); });

} // namespace
