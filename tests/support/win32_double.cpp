#include "win32_double.h"

#include <cstring>

static Win32DoubleRun g_Run;
static Win32DoubleRecord g_Record;
static DWORD g_LastError = 0;

void StartWin32Double(const Win32DoubleRun* Run) {
    g_Run = *Run;
    std::memset(&g_Record, 0, sizeof(g_Record));
    g_LastError = Run->InitialLastError;
}

const Win32DoubleRecord* GetWin32DoubleRecord(void) {
    return &g_Record;
}

void SetWin32DoubleLastError(DWORD Code) {
    g_LastError = Code;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    const unsigned Index = g_Record.OpenCount++;
    if (Index < WIN32_DOUBLE_MAX_OPENS) {
        Win32OpenRecord* Open = &g_Record.Opens[Index];
        Open->PathGiven = lpFileName != nullptr;
        if (lpFileName != nullptr) {
            std::strncpy(Open->Path, lpFileName, sizeof(Open->Path) - 1);
        }
        Open->DesiredAccess = dwDesiredAccess;
        Open->ShareMode = dwShareMode;
        Open->SecurityAttributesGiven = lpSecurityAttributes != nullptr;
        Open->CreationDisposition = dwCreationDisposition;
        Open->FlagsAndAttributes = dwFlagsAndAttributes;
        Open->TemplateGiven = hTemplateFile != nullptr;
    }
    if (!g_Run.OpenSucceeds) {
        g_LastError = g_Run.OpenError;
        return INVALID_HANDLE_VALUE;
    }
    return g_Run.Handle;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
    Win32RequestRecord Discarded;
    const unsigned Index = g_Record.RequestCount++;
    Win32RequestRecord* Request =
        Index < WIN32_DOUBLE_MAX_REQUESTS ? &g_Record.Requests[Index] : &Discarded;
    std::memset(Request, 0, sizeof(*Request));
    Request->Device = hDevice;
    Request->Code = dwIoControlCode;
    Request->InputGiven = lpInBuffer != nullptr;
    Request->InputLength = nInBufferSize;
    if (lpInBuffer != nullptr) {
        const DWORD Kept = nInBufferSize < WIN32_DOUBLE_MAX_KEPT_INPUT
                               ? nInBufferSize
                               : WIN32_DOUBLE_MAX_KEPT_INPUT;
        std::memcpy(Request->Input, lpInBuffer, Kept);
    }
    Request->OutputGiven = lpOutBuffer != nullptr;
    Request->OutputLength = nOutBufferSize;
    Request->BytesReturnedPlaceGiven = lpBytesReturned != nullptr;
    Request->OverlappedGiven = lpOverlapped != nullptr;

    Win32Reply* Reply = &Request->Reply;
    Request->Answered = g_Run.NextReply != nullptr && g_Run.NextReply(g_Run.Context, Reply);
    if (!Request->Answered) {
        ++g_Record.UnansweredCount;
        std::memset(Reply, 0, sizeof(*Reply));
        Reply->ErrorCode = ERROR_GEN_FAILURE;
    }
    g_LastError = Reply->ErrorCode;
    Reply->DeliveredCount = 0;
    if (!Reply->Succeeds) {
        if (lpBytesReturned != nullptr) {
            *lpBytesReturned = 0;
        }
        return FALSE;
    }
    // Like a driver: never more than the caller's buffer holds, and the
    // bytes past the count are left as the caller had them.
    DWORD Delivered = Reply->ClaimedCount;
    if (Delivered > sizeof(Reply->Bytes)) {
        Delivered = sizeof(Reply->Bytes);
    }
    if (Delivered > nOutBufferSize) {
        Delivered = nOutBufferSize;
    }
    if (lpOutBuffer == nullptr) {
        Delivered = 0;
    }
    if (Delivered > 0) {
        std::memcpy(lpOutBuffer, Reply->Bytes, Delivered);
    }
    Reply->DeliveredCount = Delivered;
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = Delivered;
    }
    return TRUE;
}

DWORD GetLastError(void) {
    return g_LastError;
}
