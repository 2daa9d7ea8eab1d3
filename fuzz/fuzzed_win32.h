// A double of the three Windows calls the tool makes, answered from the
// fuzzer's bytes and recording every argument for the checks afterwards.
// It never writes to standard output or standard error.
#pragma once

#include "fuzz_support.h"
#include "win32_api.h"

// Calls past these are counted but not kept; the tool makes far fewer.
#define FUZZED_MAX_OPENS 4u
#define FUZZED_MAX_REQUESTS 8u
#define FUZZED_MAX_KEPT_INPUT 8u
// The longest count a reply can claim; more than the tool's 20-byte area on
// purpose, so the clamp to the caller's output length is exercised.
#define FUZZED_MAX_REPLY_COUNT 25u

struct FuzzedOpen {
    char Path[32]; // cut to fit, always NUL-terminated
    bool PathGiven;
    DWORD DesiredAccess;
    DWORD ShareMode;
    bool SecurityAttributesGiven;
    DWORD CreationDisposition;
    DWORD FlagsAndAttributes;
    bool TemplateGiven;
};

// The scripted answer to one DeviceIoControl, drawn when the call is made.
struct FuzzedReply {
    bool Succeeds;
    DWORD ErrorCode;      // GetLastError after the call, whether or not it succeeded
    DWORD ClaimedCount;   // 0..25, before the clamp to the output length
    DWORD DeliveredCount; // what was copied and reported returned
    uint8_t Bytes[FUZZED_MAX_REPLY_COUNT];
};

struct FuzzedRequest {
    HANDLE Device;
    DWORD Code;
    DWORD InputLength;
    bool InputGiven;
    uint8_t Input[FUZZED_MAX_KEPT_INPUT]; // the first InputLength bytes, cut to fit
    DWORD OutputLength;
    bool OutputGiven;
    bool BytesReturnedPlaceGiven;
    bool OverlappedGiven;
    FuzzedReply Reply;
};

struct FuzzedWin32Record {
    unsigned OpenCount;
    FuzzedOpen Opens[FUZZED_MAX_OPENS];
    HANDLE OpenedHandle; // what a successful open gave out this run
    unsigned RequestCount;
    FuzzedRequest Requests[FUZZED_MAX_REQUESTS];
};

// Starts a run: forgets the last run's calls and answers the coming ones
// from Input. OpenSucceeds decides every CreateFileA; Handle is what a
// successful one returns.
void StartFuzzedWin32(FuzzInput* Input, bool OpenSucceeds, HANDLE Handle);
const FuzzedWin32Record* GetFuzzedWin32Record(void);
