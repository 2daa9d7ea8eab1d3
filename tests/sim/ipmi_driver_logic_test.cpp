#include "empctl_expected.h"
#include "ipmi_driver_logic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

const uint32_t TEST_READ = EXPECTED_IOCTL_READ;
const uint32_t TEST_WRITE = EXPECTED_IOCTL_WRITE;
const uint32_t TEST_INVALID = IPMI_SIM_ERROR_INVALID_PARAMETER;
const uint8_t TEST_CANARY = 0xCC;
// Room past any output length a case asks for, so overruns hit canaries.
const size_t TEST_OUTPUT_ROOM = 64;

IpmiSimState DefaultState() {
    IpmiSimState State;
    IpmiSimInitState(&State);
    return State;
}

struct LogicCase {
    const char* Name;
    IpmiSimState State;
    uint32_t Code;
    std::vector<uint8_t> Input;
    uint32_t OutputLength;
    bool Succeeded;
    uint32_t ErrorCode;
    std::vector<uint8_t> Reply; // exactly the bytes that must be returned
    uint8_t SettingAfter;
    bool SettingStored;
    // Bytes that follow the request in the caller's buffer but are not part
    // of it: a driver that looks past InputLength would see them.
    std::vector<uint8_t> BytesAfterInput = {};
};

IpmiSimState StateWith(uint8_t Setting, uint8_t Status) {
    IpmiSimState State = DefaultState();
    State.Setting = Setting;
    State.ReplyStatus = Status;
    return State;
}

IpmiSimState FailingReads(uint32_t Code) {
    IpmiSimState State = DefaultState();
    State.FailReads = 1;
    State.ReadErrorCode = Code;
    return State;
}

IpmiSimState FailingWrites(uint32_t Code) {
    IpmiSimState State = DefaultState();
    State.FailWrites = 1;
    State.WriteErrorCode = Code;
    return State;
}

IpmiSimState KeepingSetting() {
    IpmiSimState State = DefaultState();
    State.KeepSetting = 1;
    return State;
}

IpmiSimState ReadingBytes(uint32_t Count) {
    IpmiSimState State = DefaultState();
    State.ReadBytes = Count;
    return State;
}

LogicCase Accepted(const char* Name, IpmiSimState State, uint32_t Code, std::vector<uint8_t> Input,
                   uint32_t OutputLength, std::vector<uint8_t> Reply, uint8_t SettingAfter,
                   bool SettingStored) {
    return {Name,         State,        Code, std::move(Input),
            OutputLength, true,         0,    std::move(Reply),
            SettingAfter, SettingStored};
}

LogicCase Refused(const char* Name, IpmiSimState State, uint32_t Code, std::vector<uint8_t> Input,
                  uint32_t OutputLength, uint32_t ErrorCode) {
    return {Name,  State,     Code, std::move(Input), OutputLength,
            false, ErrorCode, {},   State.Setting,    false};
}

LogicCase FollowedBy(LogicCase Case, std::vector<uint8_t> BytesAfterInput) {
    Case.BytesAfterInput = std::move(BytesAfterInput);
    return Case;
}

std::vector<LogicCase> LogicCases() {
    const IpmiSimState Plain = DefaultState();
    return {
        // Requests that are answered.
        Accepted("ReadDefault", Plain, TEST_READ, EXPECTED_READ_REQUEST, 20,
                 ExpectedReplyPrefix(0x00, 0xB4, 20), 0xB4, false),
        Accepted("ReadCarriesStatusAndSetting", StateWith(0x11, 0x5A), TEST_READ,
                 EXPECTED_READ_REQUEST, 20, ExpectedReplyPrefix(0x5A, 0x11, 20), 0x11, false),
        Accepted("WriteStoresAndEchoesNewByte", StateWith(0xB4, 0x07), TEST_WRITE,
                 ExpectedWriteRequest(0x34), 20, ExpectedReplyPrefix(0x07, 0x34, 20), 0x34, true),
        Accepted("WriteOfSameByteStoresNothingNew", Plain, TEST_WRITE, ExpectedWriteRequest(0xB4),
                 20, ExpectedReplyPrefix(0x00, 0xB4, 20), 0xB4, false),
        Accepted("WriteZero", Plain, TEST_WRITE, ExpectedWriteRequest(0x00), 20,
                 ExpectedReplyPrefix(0x00, 0x00, 20), 0x00, true),
        Accepted("KeepSettingWriteSucceedsButKeepsOldByte", KeepingSetting(), TEST_WRITE,
                 ExpectedWriteRequest(0x34), 20, ExpectedReplyPrefix(0x00, 0xB4, 20), 0xB4, false),
        Accepted("ReadWithMinimumOutput", Plain, TEST_READ, EXPECTED_READ_REQUEST, 3,
                 ExpectedReplyPrefix(0x00, 0xB4, 3), 0xB4, false),
        Accepted("ReadIntoShortOutput", Plain, TEST_READ, EXPECTED_READ_REQUEST, 11,
                 ExpectedReplyPrefix(0x00, 0xB4, 11), 0xB4, false),
        Accepted("ReadIntoLargeOutputStillTwentyBytes", Plain, TEST_READ, EXPECTED_READ_REQUEST, 40,
                 ExpectedReplyPrefix(0x00, 0xB4, 20), 0xB4, false),
        Accepted("WriteIntoShortOutput", Plain, TEST_WRITE, ExpectedWriteRequest(0x42), 3,
                 ExpectedReplyPrefix(0x00, 0x42, 3), 0x42, true),
        Accepted("ReadBytesCappedByOutput", ReadingBytes(15), TEST_READ, EXPECTED_READ_REQUEST, 6,
                 ExpectedReplyPrefix(0x00, 0xB4, 6), 0xB4, false),
        Accepted("ReadBytesDoesNotShortenWrites", ReadingBytes(4), TEST_WRITE,
                 ExpectedWriteRequest(0x42), 20, ExpectedReplyPrefix(0x00, 0x42, 20), 0x42, true),
        Accepted("FailingReadsLeaveWritesAlone", FailingReads(0x1F), TEST_WRITE,
                 ExpectedWriteRequest(0x42), 20, ExpectedReplyPrefix(0x00, 0x42, 20), 0x42, true),
        Accepted("FailingWritesLeaveReadsAlone", FailingWrites(0x1F), TEST_READ,
                 EXPECTED_READ_REQUEST, 20, ExpectedReplyPrefix(0x00, 0xB4, 20), 0xB4, false),

        // Scripted failures.
        Refused("FailRead", FailingReads(0x1F), TEST_READ, EXPECTED_READ_REQUEST, 20, 0x1F),
        Refused("FailReadWithCodeZero", FailingReads(0), TEST_READ, EXPECTED_READ_REQUEST, 20, 0),
        Refused("FailReadFullRangeCode", FailingReads(0xFFFFFFFF), TEST_READ, EXPECTED_READ_REQUEST,
                20, 0xFFFFFFFF),
        Refused("FailWriteStoresNothing", FailingWrites(0x05), TEST_WRITE,
                ExpectedWriteRequest(0x34), 20, 0x05),
        Refused("FailWriteWithCodeZeroStoresNothing", FailingWrites(0), TEST_WRITE,
                ExpectedWriteRequest(0x34), 20, 0),

        // Malformed requests; a scripted failure must not mask them.
        Refused("UnknownCode", Plain, 0x00000000, EXPECTED_READ_REQUEST, 20, TEST_INVALID),
        Refused("CodeNextToRead", Plain, TEST_READ + 1, EXPECTED_READ_REQUEST, 20, TEST_INVALID),
        Refused("ReadCodeWithWriteBytes", Plain, TEST_READ, ExpectedWriteRequest(0x34), 20,
                TEST_INVALID),
        Refused("WriteCodeWithReadBytes", Plain, TEST_WRITE, EXPECTED_READ_REQUEST, 20,
                TEST_INVALID),
        Refused("ReadNoInput", Plain, TEST_READ, {}, 20, TEST_INVALID),
        Refused("ReadTooShort", Plain, TEST_READ, {0x01, 0x01}, 20, TEST_INVALID),
        FollowedBy(
            Refused("ReadTooShortInAFullBuffer", Plain, TEST_READ, {0x01, 0x01}, 20, TEST_INVALID),
            {0x01}),
        FollowedBy(Refused("WriteTooShortInAFullBuffer", Plain, TEST_WRITE, {0x01, 0x01, 0x00}, 20,
                           TEST_INVALID),
                   {0x34}),
        Refused("ReadTooLong", Plain, TEST_READ, {0x01, 0x01, 0x01, 0x00}, 20, TEST_INVALID),
        Refused("WriteTooShort", Plain, TEST_WRITE, {0x01, 0x01, 0x00}, 20, TEST_INVALID),
        Refused("WriteTooLong", Plain, TEST_WRITE, {0x01, 0x01, 0x00, 0x34, 0x00}, 20,
                TEST_INVALID),
        Refused("ReadByte0", Plain, TEST_READ, {0x02, 0x01, 0x01}, 20, TEST_INVALID),
        Refused("ReadByte1", Plain, TEST_READ, {0x01, 0x00, 0x01}, 20, TEST_INVALID),
        Refused("ReadByte2", Plain, TEST_READ, {0x01, 0x01, 0x00}, 20, TEST_INVALID),
        Refused("WriteByte0", Plain, TEST_WRITE, {0x00, 0x01, 0x00, 0x34}, 20, TEST_INVALID),
        Refused("WriteByte1", Plain, TEST_WRITE, {0x01, 0x02, 0x00, 0x34}, 20, TEST_INVALID),
        Refused("WriteByte2", Plain, TEST_WRITE, {0x01, 0x01, 0x01, 0x34}, 20, TEST_INVALID),
        Refused("ReadOutput0", Plain, TEST_READ, EXPECTED_READ_REQUEST, 0, TEST_INVALID),
        Refused("ReadOutput1", Plain, TEST_READ, EXPECTED_READ_REQUEST, 1, TEST_INVALID),
        Refused("ReadOutput2", Plain, TEST_READ, EXPECTED_READ_REQUEST, 2, TEST_INVALID),
        Refused("WriteOutput0", Plain, TEST_WRITE, ExpectedWriteRequest(0x34), 0, TEST_INVALID),
        Refused("WriteOutput1", Plain, TEST_WRITE, ExpectedWriteRequest(0x34), 1, TEST_INVALID),
        Refused("WriteOutput2StoresNothing", Plain, TEST_WRITE, ExpectedWriteRequest(0x34), 2,
                TEST_INVALID),
        Refused("MalformedReadBeatsFailRead", FailingReads(0x1F), TEST_READ, {0x01, 0x01}, 20,
                TEST_INVALID),
        Refused("MalformedWriteBeatsFailWrite", FailingWrites(0x1F), TEST_WRITE,
                ExpectedWriteRequest(0x34), 2, TEST_INVALID),
    };
}

class IpmiSimLogicTest : public ::testing::TestWithParam<LogicCase> {};

TEST_P(IpmiSimLogicTest, AnswersRequest) {
    const LogicCase& Case = GetParam();
    IpmiSimState State = Case.State;
    // Exact-size heap copy: reading past the buffer shows up under ASan.
    std::vector<uint8_t> Input = Case.Input;
    Input.insert(Input.end(), Case.BytesAfterInput.begin(), Case.BytesAfterInput.end());
    std::vector<uint8_t> Output(TEST_OUTPUT_ROOM, TEST_CANARY);
    IpmiSimOutcome Outcome;
    Outcome.Succeeded = 0xDEAD;
    Outcome.ErrorCode = 0xDEAD;
    Outcome.BytesReturned = 0xDEAD;
    Outcome.SettingStored = 0xDEAD;

    IpmiSimAnswerRequest(&State, Case.Code, Input.empty() ? nullptr : Input.data(),
                         static_cast<uint32_t>(Case.Input.size()), Output.data(), Case.OutputLength,
                         &Outcome);

    EXPECT_EQ(Outcome.Succeeded != 0, Case.Succeeded);
    EXPECT_EQ(Outcome.ErrorCode, Case.ErrorCode);
    ASSERT_EQ(Outcome.BytesReturned, Case.Reply.size());
    EXPECT_EQ(std::vector<uint8_t>(Output.begin(), Output.begin() + Case.Reply.size()), Case.Reply);
    for (size_t Index = Case.Reply.size(); Index < Output.size(); ++Index) {
        EXPECT_EQ(Output[Index], TEST_CANARY) << "byte " << Index << " written past the reply";
    }
    EXPECT_EQ(State.Setting, Case.SettingAfter);
    EXPECT_EQ(Outcome.SettingStored != 0, Case.SettingStored);
    // Nothing but the setting may change.
    EXPECT_EQ(State.ReplyStatus, Case.State.ReplyStatus);
    EXPECT_EQ(State.ReadBytes, Case.State.ReadBytes);
    EXPECT_EQ(State.FailReads, Case.State.FailReads);
    EXPECT_EQ(State.FailWrites, Case.State.FailWrites);
    EXPECT_EQ(State.KeepSetting, Case.State.KeepSetting);
}

INSTANTIATE_TEST_SUITE_P(Cases, IpmiSimLogicTest, ::testing::ValuesIn(LogicCases()),
                         [](const ::testing::TestParamInfo<LogicCase>& Info) {
                             return std::string(Info.param.Name);
                         });

class IpmiSimReadBytesTest : public ::testing::TestWithParam<uint32_t> {};

// Every count delivers exactly that many reply bytes and nothing after.
TEST_P(IpmiSimReadBytesTest, DeliversOnlyTheReportedBytes) {
    const uint32_t Count = GetParam();
    IpmiSimState State = StateWith(0x6D, 0x81);
    State.ReadBytes = Count;
    std::vector<uint8_t> Input = EXPECTED_READ_REQUEST;
    std::vector<uint8_t> Output(TEST_OUTPUT_ROOM, TEST_CANARY);
    IpmiSimOutcome Outcome;

    IpmiSimAnswerRequest(&State, TEST_READ, Input.data(), static_cast<uint32_t>(Input.size()),
                         Output.data(), IPMI_SIM_REPLY_SIZE, &Outcome);

    EXPECT_NE(Outcome.Succeeded, 0u);
    ASSERT_EQ(Outcome.BytesReturned, Count);
    const std::vector<uint8_t> Expected = ExpectedReplyPrefix(0x81, 0x6D, Count);
    EXPECT_EQ(std::vector<uint8_t>(Output.begin(), Output.begin() + Count), Expected);
    for (size_t Index = Count; Index < Output.size(); ++Index) {
        EXPECT_EQ(Output[Index], TEST_CANARY) << "byte " << Index << " written past the count";
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, IpmiSimReadBytesTest, ::testing::Range(0u, 21u));

TEST(IpmiSimLogic, NullOutputIsRefused) {
    IpmiSimState State = DefaultState();
    std::vector<uint8_t> Input = ExpectedWriteRequest(0x34);
    IpmiSimOutcome Outcome;
    IpmiSimAnswerRequest(&State, TEST_WRITE, Input.data(), static_cast<uint32_t>(Input.size()),
                         nullptr, 20, &Outcome);
    EXPECT_EQ(Outcome.Succeeded, 0u);
    EXPECT_EQ(Outcome.ErrorCode, TEST_INVALID);
    EXPECT_EQ(Outcome.BytesReturned, 0u);
    EXPECT_EQ(State.Setting, 0xB4);
}

TEST(IpmiSimLogic, NullInputIsRefusedWhateverTheLength) {
    IpmiSimState State = DefaultState();
    std::vector<uint8_t> Output(TEST_OUTPUT_ROOM, TEST_CANARY);
    IpmiSimOutcome Outcome;
    IpmiSimAnswerRequest(&State, TEST_WRITE, nullptr, IPMI_SIM_WRITE_REQUEST_SIZE, Output.data(),
                         20, &Outcome);
    EXPECT_EQ(Outcome.Succeeded, 0u);
    EXPECT_EQ(Outcome.ErrorCode, TEST_INVALID);
    EXPECT_EQ(Output[0], TEST_CANARY);
    IpmiSimAnswerRequest(&State, TEST_READ, nullptr, IPMI_SIM_READ_REQUEST_SIZE, Output.data(), 20,
                         &Outcome);
    EXPECT_EQ(Outcome.Succeeded, 0u);
    EXPECT_EQ(Outcome.ErrorCode, TEST_INVALID);
    EXPECT_EQ(Output[0], TEST_CANARY);
}

// A driver keeps its state between requests: a write is seen by the next
// read, and a refused write leaves the earlier one in place.
TEST(IpmiSimLogic, SettingCarriesAcrossRequests) {
    IpmiSimState State = DefaultState();
    std::vector<uint8_t> Output(TEST_OUTPUT_ROOM, TEST_CANARY);
    std::vector<uint8_t> Read = EXPECTED_READ_REQUEST;
    std::vector<uint8_t> Write = ExpectedWriteRequest(0x2A);
    std::vector<uint8_t> BadWrite = {0x01, 0x01, 0x01, 0x77};
    IpmiSimOutcome Outcome;

    IpmiSimAnswerRequest(&State, TEST_WRITE, Write.data(), 4, Output.data(), 20, &Outcome);
    ASSERT_NE(Outcome.Succeeded, 0u);
    IpmiSimAnswerRequest(&State, TEST_WRITE, BadWrite.data(), 4, Output.data(), 20, &Outcome);
    ASSERT_EQ(Outcome.Succeeded, 0u);
    IpmiSimAnswerRequest(&State, TEST_READ, Read.data(), 3, Output.data(), 20, &Outcome);
    ASSERT_NE(Outcome.Succeeded, 0u);
    EXPECT_EQ(Output[2], 0x2A);
}

} // namespace
