#include "ipmi_driver_logic.h"

void IpmiSimInitState(IpmiSimState* State) {
    State->Setting = 0xB4;
    State->ReplyStatus = 0x00;
    State->ReadBytes = IPMI_SIM_REPLY_SIZE;
    State->FailReads = 0;
    State->ReadErrorCode = 0;
    State->FailWrites = 0;
    State->WriteErrorCode = 0;
    State->KeepSetting = 0;
}

static int IsReadRequest(uint32_t Code, const uint8_t* Input, uint32_t InputLength) {
    return Code == IPMI_SIM_IOCTL_READ_SETTING && InputLength == IPMI_SIM_READ_REQUEST_SIZE &&
           Input != 0 && Input[0] == 0x01 && Input[1] == 0x01 && Input[2] == 0x01;
}

static int IsWriteRequest(uint32_t Code, const uint8_t* Input, uint32_t InputLength) {
    return Code == IPMI_SIM_IOCTL_WRITE_SETTING && InputLength == IPMI_SIM_WRITE_REQUEST_SIZE &&
           Input != 0 && Input[0] == 0x01 && Input[1] == 0x01 && Input[2] == 0x00;
}

static void Fail(IpmiSimOutcome* Outcome, uint32_t ErrorCode) {
    Outcome->Succeeded = 0;
    Outcome->ErrorCode = ErrorCode;
}

// Fills the first Count bytes of the 20-byte reply; the rest is not delivered.
static void PutReply(const IpmiSimState* State, uint8_t* Output, uint32_t Count) {
    for (uint32_t Index = 0; Index < Count; ++Index) {
        uint8_t Byte = 0;
        if (Index == 0) {
            Byte = State->ReplyStatus;
        } else if (Index == 2) {
            Byte = State->Setting;
        }
        Output[Index] = Byte;
    }
}

static uint32_t MinCount(uint32_t Left, uint32_t Right) {
    return Left < Right ? Left : Right;
}

void IpmiSimAnswerRequest(IpmiSimState* State, uint32_t Code, const uint8_t* Input,
                          uint32_t InputLength, uint8_t* Output, uint32_t OutputLength,
                          IpmiSimOutcome* Outcome) {
    Outcome->Succeeded = 0;
    Outcome->ErrorCode = 0;
    Outcome->BytesReturned = 0;
    Outcome->SettingStored = 0;

    const int Reading = IsReadRequest(Code, Input, InputLength);
    const int Writing = IsWriteRequest(Code, Input, InputLength);
    if ((!Reading && !Writing) || Output == 0 || OutputLength < IPMI_SIM_MIN_OUTPUT_SIZE) {
        Fail(Outcome, IPMI_SIM_ERROR_INVALID_PARAMETER);
        return;
    }

    uint32_t Count = IPMI_SIM_REPLY_SIZE;
    if (Reading) {
        if (State->FailReads) {
            Fail(Outcome, State->ReadErrorCode);
            return;
        }
        Count = MinCount(State->ReadBytes, IPMI_SIM_REPLY_SIZE);
    } else {
        if (State->FailWrites) {
            Fail(Outcome, State->WriteErrorCode);
            return;
        }
        if (!State->KeepSetting && State->Setting != Input[3]) {
            State->Setting = Input[3];
            Outcome->SettingStored = 1;
        }
    }

    Count = MinCount(Count, OutputLength);
    PutReply(State, Output, Count);
    Outcome->Succeeded = 1;
    Outcome->BytesReturned = Count;
}
