#include "scripted_win32.h"

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

const HANDLE SCRIPTED_DEVICE_HANDLE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x1234));

static Win32Script g_Script;
static std::vector<RecordedOpen> g_Opens;
static std::vector<RecordedRequest> g_Requests;
static DWORD g_LastError = 0;

void StartWin32Script(const Win32Script& Script) {
    g_Script = Script;
    g_Opens.clear();
    g_Requests.clear();
    g_LastError = 0;
}

const std::vector<RecordedOpen>& GetRecordedOpens() {
    return g_Opens;
}

const std::vector<RecordedRequest>& GetRecordedRequests() {
    return g_Requests;
}

size_t CountUnusedReplies() {
    return g_Script.Replies.size();
}

ScriptedReply ReplyWithSetting(uint8_t Status, uint8_t Setting, DWORD BytesReturned) {
    ScriptedReply Reply{};
    Reply.Succeeds = true;
    Reply.BytesReturned = BytesReturned;
    Reply.Bytes[0] = Status;
    Reply.Bytes[2] = Setting;
    return Reply;
}

ScriptedReply ReplyWithFailure(DWORD ErrorCode) {
    ScriptedReply Reply{};
    Reply.Succeeds = false;
    Reply.ErrorCode = ErrorCode;
    return Reply;
}

std::string CaptureConsole(const std::function<void()>& Action) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    Action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    g_Opens.push_back({lpFileName != nullptr ? lpFileName : "", dwDesiredAccess, dwShareMode,
                       lpSecurityAttributes != nullptr, dwCreationDisposition, dwFlagsAndAttributes,
                       hTemplateFile != nullptr});
    if (!g_Script.OpenSucceeds) {
        g_LastError = g_Script.OpenError;
        return INVALID_HANDLE_VALUE;
    }
    return SCRIPTED_DEVICE_HANDLE;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
    RecordedRequest Request{};
    Request.Device = hDevice;
    Request.Code = dwIoControlCode;
    if (lpInBuffer != nullptr) {
        const uint8_t* Input = static_cast<const uint8_t*>(lpInBuffer);
        Request.Input.assign(Input, Input + nInBufferSize);
    }
    Request.OutputLength = nOutBufferSize;
    Request.OutputGiven = lpOutBuffer != nullptr;
    Request.BytesReturnedPlaceGiven = lpBytesReturned != nullptr;
    Request.OverlappedGiven = lpOverlapped != nullptr;
    g_Requests.push_back(Request);

    if (g_Script.Replies.empty()) {
        ADD_FAILURE() << "DeviceIoControl called with no scripted reply left";
        g_LastError = ERROR_GEN_FAILURE;
        return FALSE;
    }
    const ScriptedReply Reply = g_Script.Replies.front();
    g_Script.Replies.pop_front();
    if (!Reply.Succeeds) {
        g_LastError = Reply.ErrorCode;
        return FALSE;
    }
    // Like a driver, deliver only the returned bytes and leave the rest of
    // the caller's buffer as it was.
    DWORD Delivered = Reply.BytesReturned;
    if (Delivered > sizeof(Reply.Bytes)) {
        Delivered = sizeof(Reply.Bytes);
    }
    if (Delivered > nOutBufferSize) {
        Delivered = nOutBufferSize;
    }
    if (Delivered > 0 && lpOutBuffer != nullptr) {
        std::memcpy(lpOutBuffer, Reply.Bytes, Delivered);
    }
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = Delivered;
    }
    return TRUE;
}

DWORD GetLastError(void) {
    return g_LastError;
}
