// Request-answering logic of the simulated IPMI device driver.
//
// Freestanding on purpose: no heap, no exceptions, no library calls, only
// fixed-width integer types, so that the user-mode daemon and a kernel-mode
// host can share this one piece of code.
#pragma once

#include <stdint.h>

#define IPMI_SIM_IOCTL_READ_SETTING 0x810C4C08u
#define IPMI_SIM_IOCTL_WRITE_SETTING 0x810C4C0Cu
#define IPMI_SIM_REPLY_SIZE 20u
#define IPMI_SIM_READ_REQUEST_SIZE 3u
#define IPMI_SIM_WRITE_REQUEST_SIZE 4u
#define IPMI_SIM_MIN_OUTPUT_SIZE 3u
#define IPMI_SIM_ERROR_INVALID_PARAMETER 87u

// The stored setting and the scripted behaviour of the driver.
struct IpmiSimState {
    uint8_t Setting;     // the stored EMP setting byte
    uint8_t ReplyStatus; // IPMI status byte put at reply offset 0
    uint32_t ReadBytes;  // bytes a successful read reports returned (0..20)
    uint32_t FailReads;  // non-zero: every read fails with ReadErrorCode
    uint32_t ReadErrorCode;
    uint32_t FailWrites; // non-zero: every write fails with WriteErrorCode
    uint32_t WriteErrorCode;
    uint32_t KeepSetting; // non-zero: writes succeed but store nothing
};

struct IpmiSimOutcome {
    uint32_t Succeeded;     // non-zero: the request completed successfully
    uint32_t ErrorCode;     // Win32 error code when it did not
    uint32_t BytesReturned; // bytes written to the output buffer
    uint32_t SettingStored; // non-zero: a write changed State->Setting
};

void IpmiSimInitState(IpmiSimState* State);

// Answers one device control request. Writes at most
// Outcome->BytesReturned bytes of Output, never more than OutputLength,
// and reads at most InputLength bytes of Input.
void IpmiSimAnswerRequest(IpmiSimState* State, uint32_t Code, const uint8_t* Input,
                          uint32_t InputLength, uint8_t* Output, uint32_t OutputLength,
                          IpmiSimOutcome* Outcome);
