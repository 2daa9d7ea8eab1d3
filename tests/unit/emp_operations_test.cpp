// Each row of the show and change operations' message and failure tables.
#include "emp_operations.h"
#include "empctl_expected.h"
#include "ipmi_channel.h"
#include "win32_script.h"

#include <gtest/gtest.h>

namespace {

std::string RunScripted(const std::deque<Win32Reply>& Replies,
                        const std::function<void()>& Operation) {
    Win32Script Script;
    Script.Replies = Replies;
    StartWin32Script(Script);
    EXPECT_TRUE(OpenIpmiDevice());
    return CaptureConsole(Operation);
}

struct ShowCase {
    const char* Name;
    Win32Reply Reply;
    std::string Expected;
};

void PrintTo(const ShowCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

class ShowEmpSettingTable : public testing::TestWithParam<ShowCase> {};

TEST_P(ShowEmpSettingTable, PrintsTheOutcome) {
    const ShowCase& Case = GetParam();
    EXPECT_EQ(RunScripted({Case.Reply}, ShowEmpSetting), Case.Expected);

    ASSERT_EQ(GetWin32DoubleRecord()->RequestCount, 1u);
    EXPECT_EQ(GetWin32DoubleRecord()->Requests[0].Code, EXPECTED_IOCTL_READ);
}

std::string ShowMismatch(unsigned Status, unsigned Setting) {
    return ExpectedText(EXPECTED_FORMAT_SHOW_MISMATCH, Status, Setting);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ShowEmpSettingTable,
    testing::Values(
        ShowCase{"Disabled", ReplyWithSetting(0x00, 0x34), EXPECTED_SHOWS_DISABLED},
        ShowCase{"Enabled", ReplyWithSetting(0x00, 0xB4), EXPECTED_SHOWS_ENABLED},
        ShowCase{"UnknownSetting", ReplyWithSetting(0x00, 0x35), ShowMismatch(0x0, 0x35)},
        ShowCase{"SingleDigitSetting", ReplyWithSetting(0x00, 0x04), ShowMismatch(0x0, 0x4)},
        ShowCase{"StatusOutweighsEnabled", ReplyWithSetting(0xC1, 0xB4), ShowMismatch(0xC1, 0xB4)},
        ShowCase{"StatusOutweighsDisabled", ReplyWithSetting(0x01, 0x34), ShowMismatch(0x1, 0x34)},
        ShowCase{"AllOnes", ReplyWithSetting(0xFF, 0xFF), ShowMismatch(0xFF, 0xFF)},
        ShowCase{"NothingReturned", ReplyWithSetting(0x00, 0x34, 0), ShowMismatch(0x0, 0x0)},
        ShowCase{"SettingNotReturned", ReplyWithSetting(0x00, 0xB4, 2), ShowMismatch(0x0, 0x0)},
        ShowCase{"JustEnoughReturned", ReplyWithSetting(0x00, 0xB4, 3), EXPECTED_SHOWS_ENABLED},
        ShowCase{"ReadFailsWithOne", ReplyWithFailure(1), ExpectedReadbackFailure(0x1)},
        ShowCase{"ReadFailsWithZero", ReplyWithFailure(0), ExpectedReadbackFailure(0x0)},
        ShowCase{"ReadFailsWithAllBits", ReplyWithFailure(0xFFFFFFFFu),
                 ExpectedReadbackFailure(0xFFFFFFFFu)},
        ShowCase{"ReadFailsWithMixedDigits", ReplyWithFailure(0x45D),
                 ExpectedReadbackFailure(0x45D)}),
    [](const testing::TestParamInfo<ShowCase>& Info) { return std::string(Info.param.Name); });

struct ChangeCase {
    const char* Name;
    uint8_t Target;
    Win32Reply WriteReply;
    Win32Reply ReadReply;
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
    const Win32DoubleRecord* Record = GetWin32DoubleRecord();
    ASSERT_EQ(Record->RequestCount, 2u);
    EXPECT_EQ(Record->Requests[0].Code, EXPECTED_IOCTL_WRITE);
    EXPECT_EQ(RecordedInput(Record->Requests[0]),
              (std::vector<uint8_t>{0x01, 0x01, 0x00, Case.Target}));
    EXPECT_EQ(Record->Requests[1].Code, EXPECTED_IOCTL_READ);
    EXPECT_EQ(CountUnusedReplies(), 0u);
}

const Win32Reply WRITE_OK = ReplyWithSetting(0x00, 0x00);

std::string DisableMismatch(unsigned Status, unsigned Setting) {
    return ExpectedText(EXPECTED_FORMAT_DISABLE_MISMATCH, Status, Setting);
}

std::string RestoreMismatch(unsigned Status, unsigned Setting) {
    return ExpectedText(EXPECTED_FORMAT_RESTORE_MISMATCH, Status, Setting);
}

const std::string WROTE = EXPECTED_WROTE;

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ChangeEmpSettingTable,
    testing::Values(ChangeCase{"DisableConfirmed", 0x34, WRITE_OK, ReplyWithSetting(0x00, 0x34),
                               WROTE + EXPECTED_DISABLED_CONFIRMATION},
                    ChangeCase{"RestoreConfirmed", 0xB4, WRITE_OK, ReplyWithSetting(0x00, 0xB4),
                               WROTE + EXPECTED_ENABLED_CONFIRMATION},
                    ChangeCase{"DisableWriteFailsButReadBackConfirms", 0x34, ReplyWithFailure(0x1F),
                               ReplyWithSetting(0x00, 0x34),
                               ExpectedWriteFailure(0x1F) + EXPECTED_DISABLED_CONFIRMATION},
                    ChangeCase{"RestoreReadsBackTheOtherSetting", 0xB4, WRITE_OK,
                               ReplyWithSetting(0x00, 0x34), WROTE + RestoreMismatch(0x0, 0x34)},
                    ChangeCase{"DisableReadsBackTheOtherSetting", 0x34, WRITE_OK,
                               ReplyWithSetting(0x00, 0xB4), WROTE + DisableMismatch(0x0, 0xB4)},
                    ChangeCase{"DisableStatusOutweighsMatch", 0x34, WRITE_OK,
                               ReplyWithSetting(0xC1, 0x34), WROTE + DisableMismatch(0xC1, 0x34)},
                    ChangeCase{"RestoreUnknownSetting", 0xB4, WRITE_OK,
                               ReplyWithSetting(0x00, 0x05), WROTE + RestoreMismatch(0x0, 0x5)},
                    ChangeCase{"RestoreReadBackFails", 0xB4, WRITE_OK, ReplyWithFailure(0x45D),
                               WROTE + ExpectedReadbackFailure(0x45D)},
                    ChangeCase{"DisableBothFail", 0x34, ReplyWithFailure(0xFFFFFFFFu),
                               ReplyWithFailure(0),
                               ExpectedWriteFailure(0xFFFFFFFFu) + ExpectedReadbackFailure(0x0)},
                    ChangeCase{"RestoreWriteFailsReadBackMismatches", 0xB4, ReplyWithFailure(1),
                               ReplyWithSetting(0x00, 0x34),
                               ExpectedWriteFailure(0x1) + RestoreMismatch(0x0, 0x34)},
                    // The write's reply carried the target; a read-back that returns
                    // nothing must not be taken for a confirmation.
                    ChangeCase{"DisableEmptyReadBackAfterMatchingWriteReply", 0x34,
                               ReplyWithSetting(0x00, 0x34), ReplyWithSetting(0x00, 0x34, 0),
                               WROTE + DisableMismatch(0x0, 0x0)},
                    ChangeCase{"RestoreShortReadBackAfterMatchingWriteReply", 0xB4,
                               ReplyWithSetting(0x00, 0xB4), ReplyWithSetting(0x00, 0xB4, 2),
                               WROTE + RestoreMismatch(0x0, 0x0)}),
    [](const testing::TestParamInfo<ChangeCase>& Info) { return std::string(Info.param.Name); });

// Printing may change the thread's last error, as the C runtime's console
// writes may on Windows, and the capture always does. So after a failed
// request the code must be taken before anything is printed: the text must
// carry the driver's code, never the capture's.
struct LastErrorCase {
    const char* Name;
    std::function<void()> Operation;
    std::deque<Win32Reply> Replies;
    std::string Expected;
};

void PrintTo(const LastErrorCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

class FailureCodeTable : public testing::TestWithParam<LastErrorCase> {};

TEST_P(FailureCodeTable, PrintsTheDriversCodeNotOneAPrintLeft) {
    const LastErrorCase& Case = GetParam();
    EXPECT_EQ(RunScripted(Case.Replies, Case.Operation), Case.Expected);
    // The capture did run over the last error, so the code printed could
    // only have been taken before.
    EXPECT_EQ(GetLastError(), CONSOLE_CAPTURE_LAST_ERROR);
    EXPECT_EQ(CountUnusedReplies(), 0u);
}

void Disable() {
    ChangeEmpSetting(EXPECTED_SETTING_DISABLED);
}

void Restore() {
    ChangeEmpSetting(EXPECTED_SETTING_ENABLED);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureCodeTable,
    testing::Values(LastErrorCase{"ShowReadFails",
                                  ShowEmpSetting,
                                  {ReplyWithFailure(0x45D)},
                                  ExpectedReadbackFailure(0x45D)},
                    LastErrorCase{"DisableWriteFails",
                                  Disable,
                                  {ReplyWithFailure(0x1F), ReplyWithSetting(0x00, 0x34)},
                                  ExpectedWriteFailure(0x1F) + EXPECTED_DISABLED_CONFIRMATION},
                    LastErrorCase{"RestoreWriteFails",
                                  Restore,
                                  {ReplyWithFailure(0x5), ReplyWithSetting(0x00, 0x34)},
                                  ExpectedWriteFailure(0x5) + RestoreMismatch(0x0, 0x34)},
                    LastErrorCase{"DisableReadBackFailsAfterWrite",
                                  Disable,
                                  {WRITE_OK, ReplyWithFailure(0x1F)},
                                  WROTE + ExpectedReadbackFailure(0x1F)},
                    LastErrorCase{"RestoreReadBackFailsAfterWrite",
                                  Restore,
                                  {WRITE_OK, ReplyWithFailure(0x0)},
                                  WROTE + ExpectedReadbackFailure(0x0)},
                    LastErrorCase{"RestoreBothFail",
                                  Restore,
                                  {ReplyWithFailure(0x45D), ReplyWithFailure(0xFFFFFFFFu)},
                                  ExpectedWriteFailure(0x45D) +
                                      ExpectedReadbackFailure(0xFFFFFFFFu)}),
    [](const testing::TestParamInfo<LastErrorCase>& Info) { return std::string(Info.param.Name); });

} // namespace
