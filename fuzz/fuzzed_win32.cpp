#include "fuzzed_win32.h"

#include <cstring>

static FuzzInput* g_FuzzInput = nullptr;
static bool g_OpenSucceeds = false;
static FuzzedWin32Record g_Record;
static DWORD g_LastError = 0;

void StartFuzzedWin32(FuzzInput* Input, bool OpenSucceeds, HANDLE Handle) {
    g_FuzzInput = Input;
    g_OpenSucceeds = OpenSucceeds;
    std::memset(&g_Record, 0, sizeof(g_Record));
    g_Record.OpenedHandle = Handle;
    // Whatever an earlier run left behind, as a real thread's last error may.
    g_LastError = 0xDEADBEEFu;
}

const FuzzedWin32Record* GetFuzzedWin32Record(void) {
    return &g_Record;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    const unsigned Index = g_Record.OpenCount++;
    if (Index < FUZZED_MAX_OPENS) {
        FuzzedOpen* Open = &g_Record.Opens[Index];
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
    if (!g_OpenSucceeds) {
        g_LastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    return g_Record.OpenedHandle;
}

static void DrawFuzzedReply(FuzzedReply* Reply) {
    Reply->Succeeds = (TakeFuzzByte(g_FuzzInput) & 1u) != 0;
    Reply->ErrorCode = TakeFuzzDword(g_FuzzInput);
    Reply->ClaimedCount = TakeFuzzByte(g_FuzzInput) % (FUZZED_MAX_REPLY_COUNT + 1);
    for (DWORD Index = 0; Index < Reply->ClaimedCount; ++Index) {
        Reply->Bytes[Index] = TakeFuzzByte(g_FuzzInput);
    }
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
    FuzzedRequest Discarded;
    const unsigned Index = g_Record.RequestCount++;
    FuzzedRequest* Request = Index < FUZZED_MAX_REQUESTS ? &g_Record.Requests[Index] : &Discarded;
    std::memset(Request, 0, sizeof(*Request));
    Request->Device = hDevice;
    Request->Code = dwIoControlCode;
    Request->InputLength = nInBufferSize;
    Request->InputGiven = lpInBuffer != nullptr;
    if (lpInBuffer != nullptr) {
        const DWORD Kept =
            nInBufferSize < FUZZED_MAX_KEPT_INPUT ? nInBufferSize : FUZZED_MAX_KEPT_INPUT;
        std::memcpy(Request->Input, lpInBuffer, Kept);
    }
    Request->OutputLength = nOutBufferSize;
    Request->OutputGiven = lpOutBuffer != nullptr;
    Request->BytesReturnedPlaceGiven = lpBytesReturned != nullptr;
    Request->OverlappedGiven = lpOverlapped != nullptr;

    FuzzedReply* Reply = &Request->Reply;
    DrawFuzzedReply(Reply);
    g_LastError = Reply->ErrorCode;
    if (!Reply->Succeeds) {
        if (lpBytesReturned != nullptr) {
            *lpBytesReturned = 0;
        }
        return FALSE;
    }
    // Like a driver: never more than the caller's buffer holds, and the
    // bytes past the count are left as the caller had them.
    DWORD Delivered = Reply->ClaimedCount;
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
