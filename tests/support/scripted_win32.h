// A scripted double of the three Windows calls the tool makes. It records
// every argument and answers from the current test's script.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "win32_api.h"

struct ScriptedReply {
    bool Succeeds;
    DWORD ErrorCode;     // what GetLastError gives after a failure
    DWORD BytesReturned; // on success: how many of Bytes are delivered
    uint8_t Bytes[20];
};

struct Win32Script {
    bool OpenSucceeds = true;
    DWORD OpenError = ERROR_FILE_NOT_FOUND;
    std::deque<ScriptedReply> Replies; // one per DeviceIoControl, in order
};

struct RecordedOpen {
    std::string Path;
    DWORD DesiredAccess;
    DWORD ShareMode;
    bool SecurityAttributesGiven;
    DWORD CreationDisposition;
    DWORD FlagsAndAttributes;
    bool TemplateGiven;
};

struct RecordedRequest {
    HANDLE Device;
    DWORD Code;
    std::vector<uint8_t> Input; // the InputLength bytes that were offered
    DWORD OutputLength;
    bool OutputGiven;
    bool BytesReturnedPlaceGiven;
    bool OverlappedGiven;
};

// The handle the double gives out on a successful open.
extern const HANDLE SCRIPTED_DEVICE_HANDLE;

void StartWin32Script(const Win32Script& Script);
const std::vector<RecordedOpen>& GetRecordedOpens();
const std::vector<RecordedRequest>& GetRecordedRequests();
// Replies that the test scripted but the code under test never asked for.
size_t CountUnusedReplies();

ScriptedReply ReplyWithSetting(uint8_t Status, uint8_t Setting, DWORD BytesReturned = 20);
ScriptedReply ReplyWithFailure(DWORD ErrorCode);

// Runs Action and returns what it wrote to standard output.
std::string CaptureConsole(const std::function<void()>& Action);
