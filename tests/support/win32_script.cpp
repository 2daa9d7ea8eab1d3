#include "win32_script.h"

#include <gtest/gtest.h>

const HANDLE SCRIPTED_DEVICE_HANDLE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x1234));

static std::deque<Win32Reply> g_Replies;

static bool TakeScriptedReply(void* /*Context*/, Win32Reply* Reply) {
    if (g_Replies.empty()) {
        ADD_FAILURE() << "DeviceIoControl called with no scripted reply left";
        return false;
    }
    *Reply = g_Replies.front();
    g_Replies.pop_front();
    return true;
}

void StartWin32Script(const Win32Script& Script) {
    g_Replies = Script.Replies;
    Win32DoubleRun Run{};
    Run.OpenSucceeds = Script.OpenSucceeds;
    Run.OpenError = Script.OpenError;
    Run.Handle = SCRIPTED_DEVICE_HANDLE;
    Run.NextReply = TakeScriptedReply;
    StartWin32Double(&Run);
}

size_t CountUnusedReplies() {
    return g_Replies.size();
}

Win32Reply ReplyWithSetting(uint8_t Status, uint8_t Setting, DWORD BytesReturned) {
    Win32Reply Reply{};
    Reply.Succeeds = true;
    Reply.ClaimedCount = BytesReturned;
    Reply.Bytes[0] = Status;
    Reply.Bytes[2] = Setting;
    return Reply;
}

Win32Reply ReplyWithFailure(DWORD ErrorCode) {
    Win32Reply Reply{};
    Reply.Succeeds = false;
    Reply.ErrorCode = ErrorCode;
    return Reply;
}

std::vector<uint8_t> RecordedInput(const Win32RequestRecord& Request) {
    const DWORD Kept = Request.InputLength < WIN32_DOUBLE_MAX_KEPT_INPUT
                           ? Request.InputLength
                           : WIN32_DOUBLE_MAX_KEPT_INPUT;
    return {Request.Input, Request.Input + Kept};
}

std::vector<DWORD> RecordedCodes() {
    const Win32DoubleRecord* Record = GetWin32DoubleRecord();
    std::vector<DWORD> Codes;
    for (unsigned Index = 0; Index < Record->RequestCount && Index < WIN32_DOUBLE_MAX_REQUESTS;
         ++Index) {
        Codes.push_back(Record->Requests[Index].Code);
    }
    return Codes;
}

std::string CaptureConsole(const std::function<void()>& Action) {
    // Room for the longest sweep of the fault-space tests in one capture.
    static char Captured[1u << 18];
    StartConsoleCapture(Captured, sizeof(Captured));
    Action();
    size_t Length = 0;
    bool Overflowed = false;
    const char* Text = GetCapturedConsole(&Length, &Overflowed);
    EXPECT_FALSE(Overflowed) << "the code under test said more than " << sizeof(Captured)
                             << " bytes";
    return {Text, Length};
}
