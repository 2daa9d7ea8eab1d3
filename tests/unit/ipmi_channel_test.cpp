// The channel's exact arguments and bytes on the wire.
#include "ipmi_channel.h"
#include "scripted_win32.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(IpmiChannel, OpensTheDeviceForReadAndWriteWithNoSharing) {
    StartWin32Script({});
    EXPECT_TRUE(OpenIpmiDevice());

    ASSERT_EQ(GetRecordedOpens().size(), 1u);
    const RecordedOpen& Open = GetRecordedOpens()[0];
    EXPECT_EQ(Open.Path, "\\\\.\\IPMIDEV");
    EXPECT_EQ(Open.DesiredAccess, 0xC0000000u);
    EXPECT_EQ(Open.ShareMode, 0u);
    EXPECT_FALSE(Open.SecurityAttributesGiven);
    EXPECT_EQ(Open.CreationDisposition, 3u);
    EXPECT_EQ(Open.FlagsAndAttributes, 0x80u);
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

    ASSERT_EQ(GetRecordedRequests().size(), 1u);
    const RecordedRequest& Request = GetRecordedRequests()[0];
    EXPECT_EQ(Request.Device, SCRIPTED_DEVICE_HANDLE);
    EXPECT_EQ(Request.Code, Case.Code);
    EXPECT_EQ(Request.Input, Case.Input);
    EXPECT_EQ(Request.OutputLength, 20u);
    EXPECT_TRUE(Request.OutputGiven);
    EXPECT_TRUE(Request.BytesReturnedPlaceGiven);
    EXPECT_FALSE(Request.OverlappedGiven);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, IpmiChannelWire,
    testing::Values(WireCase{"Read", false, 0, 0x810C4C08u, {0x01, 0x01, 0x01}},
                    WireCase{"WriteDisabled", true, 0x34, 0x810C4C0Cu, {0x01, 0x01, 0x00, 0x34}},
                    WireCase{"WriteEnabled", true, 0xB4, 0x810C4C0Cu, {0x01, 0x01, 0x00, 0xB4}},
                    WireCase{"WriteOther", true, 0x00, 0x810C4C0Cu, {0x01, 0x01, 0x00, 0x00}}),
    [](const testing::TestParamInfo<WireCase>& Info) { return std::string(Info.param.Name); });

TEST(IpmiChannel, ReadAfterWriteSendsThreeBytesWithTheReadFlagBack) {
    Win32Script Script;
    Script.Replies = {ReplyWithSetting(0, 0xB4), ReplyWithSetting(0, 0xB4)};
    StartWin32Script(Script);
    ASSERT_TRUE(OpenIpmiDevice());

    ASSERT_TRUE(WriteEmpSetting(0xB4));
    ASSERT_TRUE(ReadEmpSetting());

    ASSERT_EQ(GetRecordedRequests().size(), 2u);
    EXPECT_EQ(GetRecordedRequests()[1].Code, 0x810C4C08u);
    EXPECT_EQ(GetRecordedRequests()[1].Input, (Bytes{0x01, 0x01, 0x01}));
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
    ScriptedReply Reply = ReplyWithSetting(0xC1, 0x34);
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
    ScriptedReply Earlier = ReplyWithSetting(0x00, 0x34);
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
