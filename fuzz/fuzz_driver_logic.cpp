// Fuzz target: the simulated driver's request logic, IpmiSimAnswerRequest,
// with any control code, input, output length and driver state. Input and
// output sit in heap buffers of exactly their stated lengths, so a touch past
// either is caught; the same request is then answered again into a larger
// guard-filled buffer to see that nothing past the returned count changes.
//
// Input, taken from the front (bytes past the end read as zero):
//   1 byte    request: bit 2 = kind (clear: read, set: write); bits 0-1:
//               0 the kind's code, 1 the other kind's code, 2 four raw code
//               bytes follow (least significant first), 3 the kind's code
//               with bit (next byte % 32) flipped
//   1 byte    input: bits 0-2 = length (0..7); bit 3 = no input buffer at
//               all; bit 4 = raw bytes instead of changes to the kind's
//               well-formed bytes (01 01 01 for a read, 01 01 00 00 for a
//               write)
//   length bytes  the raw input, or XORed onto the well-formed bytes
//   1 byte    output: bits 0-5 = output length (0..63); bit 6 = no output
//               buffer at all
//   1 byte    stored setting
//   1 byte    reply status
//   1 byte    read bytes: below 0xC0, byte % 32; otherwise four raw bytes
//               follow
//   1 byte    fail reads (non-zero fails), then 4 bytes read error code
//   1 byte    fail writes (non-zero fails), then 4 bytes write error code
//   1 byte    keep setting (non-zero keeps)
//   1 byte    what the output buffers hold before the call
#include "fuzz_support.h"
#include "ipmi_driver_logic.h"

#include <cstring>
#include <memory>

#define DRIVER_FUZZ_MAX_INPUT 7u
#define DRIVER_FUZZ_MAX_OUTPUT 63u
#define DRIVER_FUZZ_GUARD 32u
#define DRIVER_FUZZ_RAW_READ_BYTES 0xC0u

struct DriverRequest {
    uint32_t Code;
    bool InputGiven;
    uint32_t InputLength;
    uint8_t Input[DRIVER_FUZZ_MAX_INPUT];
    bool OutputGiven;
    uint32_t OutputLength;
    uint8_t Fill;
};

static void DrawDriverRequest(FuzzInput* Input, DriverRequest* Request) {
    const uint8_t Shape = TakeFuzzByte(Input);
    const bool Write = (Shape & 0x04u) != 0;
    const uint32_t KindCode = Write ? IPMI_SIM_IOCTL_WRITE_SETTING : IPMI_SIM_IOCTL_READ_SETTING;
    switch (Shape & 0x03u) {
    case 0:
        Request->Code = KindCode;
        break;
    case 1:
        Request->Code = Write ? IPMI_SIM_IOCTL_READ_SETTING : IPMI_SIM_IOCTL_WRITE_SETTING;
        break;
    case 2:
        Request->Code = TakeFuzzDword(Input);
        break;
    default:
        Request->Code = KindCode ^ (1u << (TakeFuzzByte(Input) % 32u));
        break;
    }

    const uint8_t InputShape = TakeFuzzByte(Input);
    Request->InputLength = InputShape & 0x07u;
    Request->InputGiven = (InputShape & 0x08u) == 0;
    const bool Raw = (InputShape & 0x10u) != 0;
    std::memset(Request->Input, 0, sizeof(Request->Input));
    if (!Raw) {
        Request->Input[0] = 0x01;
        Request->Input[1] = 0x01;
        Request->Input[2] = Write ? 0x00 : 0x01;
    }
    for (uint32_t Index = 0; Index < Request->InputLength; ++Index) {
        Request->Input[Index] ^= TakeFuzzByte(Input);
    }

    const uint8_t OutputShape = TakeFuzzByte(Input);
    Request->OutputLength = OutputShape & DRIVER_FUZZ_MAX_OUTPUT;
    Request->OutputGiven = (OutputShape & 0x40u) == 0;
}

static void DrawDriverState(FuzzInput* Input, IpmiSimState* State) {
    State->Setting = TakeFuzzByte(Input);
    State->ReplyStatus = TakeFuzzByte(Input);
    const uint8_t ReadBytes = TakeFuzzByte(Input);
    State->ReadBytes =
        ReadBytes < DRIVER_FUZZ_RAW_READ_BYTES ? ReadBytes % 32u : TakeFuzzDword(Input);
    State->FailReads = TakeFuzzByte(Input);
    State->ReadErrorCode = TakeFuzzDword(Input);
    State->FailWrites = TakeFuzzByte(Input);
    State->WriteErrorCode = TakeFuzzDword(Input);
    State->KeepSetting = TakeFuzzByte(Input);
}

static uint32_t SmallerOf(uint32_t Left, uint32_t Right) {
    return Left < Right ? Left : Right;
}

static bool SameState(const IpmiSimState* Left, const IpmiSimState* Right) {
    return Left->Setting == Right->Setting && Left->ReplyStatus == Right->ReplyStatus &&
           Left->ReadBytes == Right->ReadBytes && Left->FailReads == Right->FailReads &&
           Left->ReadErrorCode == Right->ReadErrorCode && Left->FailWrites == Right->FailWrites &&
           Left->WriteErrorCode == Right->WriteErrorCode && Left->KeepSetting == Right->KeepSetting;
}

// What an answer must look like. Output is the buffer the driver was given
// (BufferSize bytes, of which the driver was told OutputLength), or null.
struct DriverAnswer {
    const char* Buffer; // which of the two buffers, for the messages
    const IpmiSimState* Before;
    const IpmiSimState* After;
    const IpmiSimOutcome* Outcome;
    const uint8_t* Output;
    uint32_t BufferSize;
};

static void CheckNothingDone(const DriverRequest* Request, const DriverAnswer* Answer,
                             uint32_t ErrorCode, const char* Why) {
    const IpmiSimOutcome* Outcome = Answer->Outcome;
    FUZZ_CHECK(!Outcome->Succeeded && Outcome->ErrorCode == ErrorCode &&
                   Outcome->BytesReturned == 0 && !Outcome->SettingStored,
               "%s, code %08x input length %u output length %u (%s buffer): outcome succeeded %u "
               "error %u returned %u stored %u, expected a failure with %u and nothing returned",
               Why, Request->Code, Request->InputLength, Request->OutputLength, Answer->Buffer,
               Outcome->Succeeded, Outcome->ErrorCode, Outcome->BytesReturned,
               Outcome->SettingStored, ErrorCode);
    FUZZ_CHECK(SameState(Answer->Before, Answer->After),
               "%s, code %08x (%s buffer): the driver state changed", Why, Request->Code,
               Answer->Buffer);
}

// The reply bytes: status at 0, the stored setting at 2, zeros elsewhere.
static void CheckReplyBytes(const DriverRequest* Request, const DriverAnswer* Answer) {
    for (uint32_t Index = 0; Index < Answer->Outcome->BytesReturned; ++Index) {
        uint8_t Expected = 0;
        if (Index == 0) {
            Expected = Answer->After->ReplyStatus;
        } else if (Index == 2) {
            Expected = Answer->After->Setting;
        }
        FUZZ_CHECK(Answer->Output[Index] == Expected,
                   "code %08x (%s buffer): reply byte %u is %02x, expected %02x", Request->Code,
                   Answer->Buffer, Index, Answer->Output[Index], Expected);
    }
}

static void CheckDriverAnswer(const DriverRequest* Request, const DriverAnswer* Answer) {
    const IpmiSimState* Before = Answer->Before;
    const IpmiSimState* After = Answer->After;
    const IpmiSimOutcome* Outcome = Answer->Outcome;

    FUZZ_CHECK(Outcome->BytesReturned <= SmallerOf(Request->OutputLength, IPMI_SIM_REPLY_SIZE),
               "code %08x (%s buffer): %u bytes returned into an output of %u", Request->Code,
               Answer->Buffer, Outcome->BytesReturned, Request->OutputLength);
    const uint32_t Untouched =
        Outcome->BytesReturned < Answer->BufferSize ? Outcome->BytesReturned : Answer->BufferSize;
    for (uint32_t Index = Untouched; Index < Answer->BufferSize; ++Index) {
        FUZZ_CHECK(Answer->Output[Index] == Request->Fill,
                   "code %08x (%s buffer): byte %u past the %u returned (output length %u) "
                   "was changed to %02x",
                   Request->Code, Answer->Buffer, Index, Outcome->BytesReturned,
                   Request->OutputLength, Answer->Output[Index]);
    }

    const uint8_t* In = Request->Input;
    const bool Given = Request->InputGiven;
    const bool Reading = Request->Code == IPMI_SIM_IOCTL_READ_SETTING && Given &&
                         Request->InputLength == 3 && In[0] == 0x01 && In[1] == 0x01 &&
                         In[2] == 0x01;
    const bool Writing = Request->Code == IPMI_SIM_IOCTL_WRITE_SETTING && Given &&
                         Request->InputLength == 4 && In[0] == 0x01 && In[1] == 0x01 &&
                         In[2] == 0x00;
    if ((!Reading && !Writing) || !Request->OutputGiven || Request->OutputLength < 3) {
        CheckNothingDone(Request, Answer, IPMI_SIM_ERROR_INVALID_PARAMETER, "malformed request");
        return;
    }

    if (Reading) {
        if (Before->FailReads) {
            CheckNothingDone(Request, Answer, Before->ReadErrorCode, "failing read");
            return;
        }
        const uint32_t Count =
            SmallerOf(SmallerOf(Before->ReadBytes, IPMI_SIM_REPLY_SIZE), Request->OutputLength);
        FUZZ_CHECK(Outcome->Succeeded && Outcome->BytesReturned == Count && !Outcome->SettingStored,
                   "read, read bytes %u, output length %u (%s buffer): succeeded %u returned %u "
                   "stored %u, expected success with %u",
                   Before->ReadBytes, Request->OutputLength, Answer->Buffer, Outcome->Succeeded,
                   Outcome->BytesReturned, Outcome->SettingStored, Count);
        FUZZ_CHECK(SameState(Before, After), "read (%s buffer): the driver state changed",
                   Answer->Buffer);
        CheckReplyBytes(Request, Answer);
        return;
    }

    if (Before->FailWrites) {
        CheckNothingDone(Request, Answer, Before->WriteErrorCode, "failing write");
        return;
    }
    const uint32_t Count = SmallerOf(IPMI_SIM_REPLY_SIZE, Request->OutputLength);
    FUZZ_CHECK(Outcome->Succeeded && Outcome->BytesReturned == Count,
               "write, output length %u (%s buffer): succeeded %u returned %u, expected success "
               "with %u",
               Request->OutputLength, Answer->Buffer, Outcome->Succeeded, Outcome->BytesReturned,
               Count);
    IpmiSimState Expected = *Before;
    if (!Before->KeepSetting) {
        Expected.Setting = In[3];
    }
    const bool Stored = Expected.Setting != Before->Setting;
    FUZZ_CHECK(SameState(&Expected, After) && (Outcome->SettingStored != 0) == Stored,
               "write of %02x over %02x, keep setting %u (%s buffer): setting now %02x, stored "
               "%u, or another field changed",
               In[3], Before->Setting, Before->KeepSetting, Answer->Buffer, After->Setting,
               Outcome->SettingStored);
    CheckReplyBytes(Request, Answer);
}

// Answers Request from a copy of Before into a fresh buffer of BufferSize
// bytes, none if the request gives no output buffer, and checks the answer.
static void AnswerAndCheck(const DriverRequest* Request, const IpmiSimState* Before,
                           uint32_t BufferSize, const char* BufferName, IpmiSimState* After,
                           IpmiSimOutcome* Outcome) {
    std::unique_ptr<uint8_t[]> Input;
    if (Request->InputGiven) {
        Input.reset(new uint8_t[Request->InputLength]);
        std::memcpy(Input.get(), Request->Input, Request->InputLength);
    }
    std::unique_ptr<uint8_t[]> Output;
    if (!Request->OutputGiven) {
        BufferSize = 0;
    } else {
        Output.reset(new uint8_t[BufferSize]);
        std::memset(Output.get(), Request->Fill, BufferSize);
    }

    *After = *Before;
    // Junk first, so a field the driver forgets to set shows.
    std::memset(Outcome, 0xA5, sizeof(*Outcome));
    IpmiSimAnswerRequest(After, Request->Code, Input.get(), Request->InputLength, Output.get(),
                         Request->OutputLength, Outcome);

    FUZZ_CHECK(!Request->InputGiven ||
                   std::memcmp(Input.get(), Request->Input, Request->InputLength) == 0,
               "code %08x (%s buffer): the driver changed its input", Request->Code, BufferName);
    const DriverAnswer Answer = {BufferName, Before, After, Outcome, Output.get(), BufferSize};
    CheckDriverAnswer(Request, &Answer);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInput Input = {Data, Size};
    DriverRequest Request;
    DrawDriverRequest(&Input, &Request);
    IpmiSimState Before;
    DrawDriverState(&Input, &Before);
    Request.Fill = TakeFuzzByte(&Input);

    IpmiSimState ExactAfter;
    IpmiSimOutcome ExactOutcome;
    AnswerAndCheck(&Request, &Before, Request.OutputLength, "exact", &ExactAfter, &ExactOutcome);

    IpmiSimState GuardedAfter;
    IpmiSimOutcome GuardedOutcome;
    AnswerAndCheck(&Request, &Before, Request.OutputLength + DRIVER_FUZZ_GUARD, "guarded",
                   &GuardedAfter, &GuardedOutcome);

    // Where the caller's buffer ends must not change the answer.
    FUZZ_CHECK(SameState(&ExactAfter, &GuardedAfter) &&
                   std::memcmp(&ExactOutcome, &GuardedOutcome, sizeof(ExactOutcome)) == 0,
               "code %08x: the exact and the guarded buffer got different answers", Request.Code);
    return 0;
}
