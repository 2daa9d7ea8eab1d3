// A double of the three Windows calls the tool makes. Each run takes its
// DeviceIoControl answers from a reply source (a scripted queue, the
// fuzzer's bytes) and records every argument in fixed-size records, so it
// needs neither the heap nor a test framework.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "win32_api.h"

// Calls past these are counted but not kept; the tool makes far fewer per run.
#define WIN32_DOUBLE_MAX_OPENS 4u
#define WIN32_DOUBLE_MAX_REQUESTS 8u
#define WIN32_DOUBLE_MAX_KEPT_INPUT 8u
#define WIN32_DOUBLE_MAX_PATH 32u
// The longest reply a driver can claim; longer than the tool's 20-byte area
// on purpose, so the clamp to the caller's output length is exercised.
#define WIN32_DOUBLE_MAX_REPLY_COUNT 25u

// The answer to one DeviceIoControl.
struct Win32Reply {
    bool Succeeds;
    DWORD ErrorCode;      // GetLastError after the call, whether or not it succeeded
    DWORD ClaimedCount;   // how many of Bytes the driver claims to return
    DWORD DeliveredCount; // set by the double: what it copied and reported returned
    uint8_t Bytes[WIN32_DOUBLE_MAX_REPLY_COUNT];
};

// Fills Reply with the next answer; returns false when the source has none
// left, and the call then fails with ERROR_GEN_FAILURE.
typedef bool (*Win32ReplySource)(void* Context, Win32Reply* Reply);

struct Win32DoubleRun {
    bool OpenSucceeds;      // decides every CreateFileA of the run
    DWORD OpenError;        // GetLastError after a failed open
    HANDLE Handle;          // what a successful open gives out
    DWORD InitialLastError; // what GetLastError gives before any call
    Win32ReplySource NextReply;
    void* Context; // passed to NextReply
};

struct Win32OpenRecord {
    bool PathGiven;
    char Path[WIN32_DOUBLE_MAX_PATH]; // cut to fit, always NUL-terminated
    DWORD DesiredAccess;
    DWORD ShareMode;
    bool SecurityAttributesGiven;
    DWORD CreationDisposition;
    DWORD FlagsAndAttributes;
    bool TemplateGiven;
};

struct Win32RequestRecord {
    HANDLE Device;
    DWORD Code;
    bool InputGiven;
    DWORD InputLength;
    uint8_t Input[WIN32_DOUBLE_MAX_KEPT_INPUT]; // the first InputLength bytes, cut to fit
    bool OutputGiven;
    DWORD OutputLength;
    bool BytesReturnedPlaceGiven;
    bool OverlappedGiven;
    bool Answered; // false when the reply source had nothing left
    Win32Reply Reply;
};

struct Win32DoubleRecord {
    unsigned OpenCount;
    Win32OpenRecord Opens[WIN32_DOUBLE_MAX_OPENS];
    unsigned RequestCount;
    Win32RequestRecord Requests[WIN32_DOUBLE_MAX_REQUESTS];
    unsigned UnansweredCount; // requests made after the reply source ran dry
};

// Forgets the last run's calls and answers the coming ones as Run says.
void StartWin32Double(const Win32DoubleRun* Run);
const Win32DoubleRecord* GetWin32DoubleRecord(void);

// What other code of the process does to the thread's last error, such as
// the C runtime's console writes.
void SetWin32DoubleLastError(DWORD Code);
