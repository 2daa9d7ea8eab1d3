// The channel's exact arguments and bytes on the wire.
#include "empctl_expected.h"
#include "ipmi_channel.h"
#include "win32_script.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(IpmiChannel, OpensTheDeviceForReadAndWriteWithNoSharing) {
    StartWin32Script({});
    EXPECT_TRUE(OpenIpmiDevice());

    ASSERT_EQ(GetWin32DoubleRecord()->OpenCount, 1u);
    const Win32OpenRecord& Open = GetWin32DoubleRecord()->Opens[0];
    ASSERT_TRUE(Open.PathGiven);
    EXPECT_STREQ(Open.Path, EXPECTED_DEVICE_PATH);
    EXPECT_EQ(Open.DesiredAccess, EXPECTED_OPEN_ACCESS);
    EXPECT_EQ(Open.ShareMode, EXPECTED_OPEN_SHARE_MODE);
    EXPECT_FALSE(Open.SecurityAttributesGiven);
    EXPECT_EQ(Open.CreationDisposition, EXPECTED_OPEN_DISPOSITION);
    EXPECT_EQ(Open.FlagsAndAttributes, EXPECTED_OPEN_FLAGS);
    EXPECT_FALSE(Open.TemplateGiven);
}

TEST(IpmiChannel, ReportsAFailedOpen) {
    Win32Script Script;
    Script.OpenSucceeds = false;
    StartWin32Script(Script);
    EXPECT_FALSE(OpenIpmiDevice());
}

struct WireCase {
    const char* Name;
    bool Write;
    uint8_t Value;
    DWORD Code;
    Bytes Input;
};

void PrintTo(const WireCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

class IpmiChannelWire : public testing::TestWithParam<WireCase> {};

TEST_P(IpmiChannelWire, SendsTheExactRequest) {
    const WireCase& Case = GetParam();
    Win32Script Script;
    Script.Replies.push_back(ReplyWithSetting(0, 0));
    StartWin32Script(Script);
    ASSERT_TRUE(OpenIpmiDevice());

    EXPECT_TRUE(Case.Write ? WriteEmpSetting(Case.Value) : ReadEmpSetting());

    ASSERT_EQ(GetWin32DoubleRecord()->RequestCount, 1u);
    const Win32RequestRecord& Request = GetWin32DoubleRecord()->Requests[0];
    EXPECT_EQ(Request.Device, SCRIPTED_DEVICE_HANDLE);
    EXPECT_EQ(Request.Code, Case.Code);
    EXPECT_TRUE(Request.InputGiven);
    EXPECT_EQ(RecordedInput(Request), Case.Input);
    EXPECT_EQ(Request.OutputLength, EXPECTED_RESPONSE_LENGTH);
    EXPECT_TRUE(Request.OutputGiven);
    EXPECT_TRUE(Request.BytesReturnedPlaceGiven);
    EXPECT_FALSE(Request.OverlappedGiven);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, IpmiChannelWire,
    testing::Values(
        WireCase{"Read", false, 0, EXPECTED_IOCTL_READ, {0x01, 0x01, 0x01}},
        WireCase{"WriteDisabled", true, 0x34, EXPECTED_IOCTL_WRITE, {0x01, 0x01, 0x00, 0x34}},
        WireCase{"WriteEnabled", true, 0xB4, EXPECTED_IOCTL_WRITE, {0x01, 0x01, 0x00, 0xB4}},
        WireCase{"WriteOther", true, 0x00, EXPECTED_IOCTL_WRITE, {0x01, 0x01, 0x00, 0x00}}),
    [](const testing::TestParamInfo<WireCase>& Info) { return std::string(Info.param.Name); });

TEST(IpmiChannel, ReadAfterWriteSendsThreeBytesWithTheReadFlagBack) {
    Win32Script Script;
    Script.Replies = {ReplyWithSetting(0, 0xB4), ReplyWithSetting(0, 0xB4)};
    StartWin32Script(Script);
    ASSERT_TRUE(OpenIpmiDevice());

    ASSERT_TRUE(WriteEmpSetting(0xB4));
    ASSERT_TRUE(ReadEmpSetting());

    ASSERT_EQ(GetWin32DoubleRecord()->RequestCount, 2u);
    EXPECT_EQ(GetWin32DoubleRecord()->Requests[1].Code, EXPECTED_IOCTL_READ);
    EXPECT_EQ(RecordedInput(GetWin32DoubleRecord()->Requests[1]), (Bytes{0x01, 0x01, 0x01}));
}

TEST(IpmiChannel, PassesTheFailureAndItsErrorCodeThrough) {
    Win32Script Script;
    Script.Replies = {ReplyWithFailure(0x45D), ReplyWithFailure(0x1F)};
    StartWin32Script(Script);
    ASSERT_TRUE(OpenIpmiDevice());

    EXPECT_FALSE(WriteEmpSetting(0x34));
    EXPECT_EQ(GetLastError(), 0x45Du);
    EXPECT_FALSE(ReadEmpSetting());
    EXPECT_EQ(GetLastError(), 0x1Fu);
}

TEST(IpmiChannel, DeliversTheReplyBytes) {
    Win32Script Script;
    Win32Reply Reply = ReplyWithSetting(0xC1, 0x34);
    Reply.Bytes[1] = 0x77;
    Reply.Bytes[19] = 0x99;
    Script.Replies = {Reply};
    StartWin32Script(Script);
    ASSERT_TRUE(OpenIpmiDevice());

    ASSERT_TRUE(ReadEmpSetting());
    const IpmiSettingResponse* Response = GetIpmiSettingResponse();
    EXPECT_EQ(Response->Status, 0xC1);
    EXPECT_EQ(Response->Reserved1, 0x77);
    EXPECT_EQ(Response->Setting, 0x34);
    EXPECT_EQ(Response->Reserved2[16], 0x99);
}

// A short reply must not leave the previous reply's status and setting
// bytes in place: they would read as if the driver had sent them.
class IpmiChannelShortReply : public testing::TestWithParam<DWORD> {};

TEST_P(IpmiChannelShortReply, LeavesNoEarlierReplyBehind) {
    const DWORD Count = GetParam();
    Win32Script Script;
    Win32Reply Earlier = ReplyWithSetting(0x00, 0x34);
    Earlier.Bytes[1] = 0x55;
    Script.Replies = {Earlier, ReplyWithSetting(0x00, 0x34, Count)};
    // The second reply's own bytes, had they been delivered, differ from the
    // first's: make its status byte visible when Count covers it.
    Script.Replies[1].Bytes[0] = 0xC1;
    StartWin32Script(Script);
    ASSERT_TRUE(OpenIpmiDevice());

    ASSERT_TRUE(WriteEmpSetting(0x34));
    ASSERT_TRUE(ReadEmpSetting());

    const IpmiSettingResponse* Response = GetIpmiSettingResponse();
    EXPECT_EQ(Response->Status, Count >= 1 ? 0xC1 : 0x00);
    EXPECT_EQ(Response->Reserved1, 0x00);
    EXPECT_EQ(Response->Setting, Count >= 3 ? 0x34 : 0x00);
}

INSTANTIATE_TEST_SUITE_P(Counts, IpmiChannelShortReply, testing::Values(0u, 1u, 2u, 3u));

} // namespace
