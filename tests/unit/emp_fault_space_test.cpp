// The whole space of driver replies, swept: every status and setting byte,
// every returned count and a spread of error codes, for show, disable and
// restore. The expected text is built from the operations' rules as stated
// to the user, not from the code.
#include "emp_operations.h"
#include "empctl_expected.h"
#include "ipmi_channel.h"
#include "win32_script.h"

#include <gtest/gtest.h>

namespace {

const std::string WROTE = EXPECTED_WROTE;

void StartScript(std::deque<Win32Reply> Replies) {
    Win32Script Script;
    Script.Replies = std::move(Replies);
    StartWin32Script(Script);
    ASSERT_TRUE(OpenIpmiDevice());
}

// One capture per status byte keeps 65,536 replies per operation fast.
TEST(FaultSpace, ShowJudgesEveryStatusAndSettingByte) {
    for (unsigned Status = 0; Status <= 0xFF; ++Status) {
        std::deque<Win32Reply> Replies;
        std::string Expected;
        for (unsigned Setting = 0; Setting <= 0xFF; ++Setting) {
            Replies.push_back(
                ReplyWithSetting(static_cast<uint8_t>(Status), static_cast<uint8_t>(Setting)));
            Expected += ExpectedShow(Status, Setting);
        }
        StartScript(Replies);
        const std::string Output = CaptureConsole([] {
            for (unsigned Setting = 0; Setting <= 0xFF; ++Setting) {
                ShowEmpSetting();
            }
        });
        ASSERT_EQ(Output, Expected) << "status byte " << Status;
        ASSERT_EQ(GetWin32DoubleRecord()->RequestCount, 256u);
    }
}

class ChangeFaultSpace : public testing::TestWithParam<uint8_t> {};

TEST_P(ChangeFaultSpace, JudgesTheReadBackAgainstTheTargetOnly) {
    const uint8_t Target = GetParam();
    for (unsigned Status = 0; Status <= 0xFF; ++Status) {
        std::deque<Win32Reply> Replies;
        std::string Expected;
        for (unsigned Setting = 0; Setting <= 0xFF; ++Setting) {
            Replies.push_back(ReplyWithSetting(0x00, Target));
            Replies.push_back(
                ReplyWithSetting(static_cast<uint8_t>(Status), static_cast<uint8_t>(Setting)));
            Expected += WROTE + ExpectedReadBack(Target, Status, Setting);
        }
        StartScript(Replies);
        const std::string Output = CaptureConsole([Target] {
            for (unsigned Setting = 0; Setting <= 0xFF; ++Setting) {
                ChangeEmpSetting(Target);
            }
        });
        ASSERT_EQ(Output, Expected) << "status byte " << Status;
        ASSERT_EQ(CountUnusedReplies(), 0u);
    }
}

// Only a reply that really carried offsets 0 and 2 can confirm anything:
// the earlier reply in the same area already held the target.
TEST_P(ChangeFaultSpace, ConfirmsOnlyFromBytesTheReadBackReturned) {
    const uint8_t Target = GetParam();
    for (DWORD Count = 0; Count <= 20; ++Count) {
        StartScript({ReplyWithSetting(0x00, Target), ReplyWithSetting(0x00, Target, Count)});
        const std::string Output = CaptureConsole([Target] { ChangeEmpSetting(Target); });
        const unsigned Delivered = Count >= 3 ? Target : 0;
        EXPECT_EQ(Output, WROTE + ExpectedReadBack(Target, 0, Delivered)) << "count " << Count;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, ChangeFaultSpace,
                         testing::Values(EXPECTED_SETTING_DISABLED, EXPECTED_SETTING_ENABLED));

TEST(FaultSpace, ShowConfirmsOnlyFromBytesTheReadReturned) {
    for (const uint8_t Setting : {EXPECTED_SETTING_DISABLED, EXPECTED_SETTING_ENABLED}) {
        for (DWORD Count = 0; Count <= 20; ++Count) {
            // A first full reply fills the area; the short one must not reuse it.
            StartScript({ReplyWithSetting(0x00, Setting), ReplyWithSetting(0x00, Setting, Count)});
            ShowEmpSetting();
            const std::string Output = CaptureConsole([] { ShowEmpSetting(); });
            EXPECT_EQ(Output, ExpectedShow(0, Count >= 3 ? Setting : 0))
                << "setting " << unsigned{Setting} << " count " << Count;
        }
    }
}

const DWORD ERROR_CODES[] = {0, 1, 0x1F, 0x45D, 0xFFFFFFFFu};

TEST(FaultSpace, ShowPrintsEveryReadErrorCodeInFull) {
    for (const DWORD Code : ERROR_CODES) {
        StartScript({ReplyWithFailure(Code)});
        EXPECT_EQ(CaptureConsole([] { ShowEmpSetting(); }), ExpectedReadbackFailure(Code));
    }
}

// Every write outcome (success or each error code) with every read-back
// outcome (confirmation, mismatch, or each error code).
TEST_P(ChangeFaultSpace, CombinesEveryWriteAndReadBackOutcome) {
    const uint8_t Target = GetParam();
    const uint8_t Other =
        Target == EXPECTED_SETTING_DISABLED ? EXPECTED_SETTING_ENABLED : EXPECTED_SETTING_DISABLED;

    std::vector<std::pair<Win32Reply, std::string>> Writes = {
        {ReplyWithSetting(0x00, Target), WROTE}};
    for (const DWORD Code : ERROR_CODES) {
        Writes.push_back({ReplyWithFailure(Code), ExpectedWriteFailure(Code)});
    }
    std::vector<std::pair<Win32Reply, std::string>> Reads = {
        {ReplyWithSetting(0x00, Target), ExpectedReadBack(Target, 0, Target)},
        {ReplyWithSetting(0x00, Other), ExpectedReadBack(Target, 0, Other)}};
    for (const DWORD Code : ERROR_CODES) {
        Reads.push_back({ReplyWithFailure(Code), ExpectedReadbackFailure(Code)});
    }

    for (const auto& Write : Writes) {
        for (const auto& Read : Reads) {
            StartScript({Write.first, Read.first});
            EXPECT_EQ(CaptureConsole([Target] { ChangeEmpSetting(Target); }),
                      Write.second + Read.second);
            EXPECT_EQ(GetWin32DoubleRecord()->RequestCount, 2u);
        }
    }
}

} // namespace
