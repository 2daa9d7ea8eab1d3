// Stand-in for kernel32's device calls: a device "\\.\NAME" is a simulated
// driver process listening on a local socket, and each DeviceIoControl is
// one request and one reply on the connection that CreateFileA opened.
#include "device_socket.h"
#include "device_wire.h"
#include "win32_api.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>

static thread_local DWORD t_LastError = 0;

static const char DEVICE_NAMESPACE_PREFIX[] = "\\\\.\\";

static void SetLastErrorCode(DWORD Code) {
    t_LastError = Code;
}

DWORD GetLastError(void) {
    return t_LastError;
}

static int HandleToSocket(HANDLE Handle) {
    return static_cast<int>(reinterpret_cast<intptr_t>(Handle));
}

// A connection whose stream may be out of step is never used again.
static BOOL FailBrokenConnection(int Socket) {
    shutdown(Socket, SHUT_RDWR);
    SetLastErrorCode(ERROR_GEN_FAILURE);
    return FALSE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    // Access, sharing and attributes have no meaning for the simulated
    // device; only opening an existing device is supported.
    (void)dwDesiredAccess;
    (void)dwShareMode;
    (void)lpSecurityAttributes;
    (void)dwFlagsAndAttributes;
    (void)hTemplateFile;

    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const size_t PrefixLength = sizeof(DEVICE_NAMESPACE_PREFIX) - 1;
    if (std::strncmp(lpFileName, DEVICE_NAMESPACE_PREFIX, PrefixLength) != 0) {
        SetLastErrorCode(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    int Socket = -1;
    const int Opened = ConnectDeviceSocket(lpFileName + PrefixLength, &Socket);
    if (Opened != DEVICE_SOCKET_OPENED) {
        // No socket to be had is a lack of resources; any other failure is a
        // missing device, unless permission was refused.
        if (Opened == DEVICE_SOCKET_NO_SOCKET) {
            SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
        } else if (Opened == DEVICE_SOCKET_NOT_CONNECTED && (errno == EACCES || errno == EPERM)) {
            SetLastErrorCode(ERROR_ACCESS_DENIED);
        } else {
            SetLastErrorCode(ERROR_FILE_NOT_FOUND);
        }
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(Socket));
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
    // Only synchronous requests exist here, and they need a place for the count.
    if (hDevice == INVALID_HANDLE_VALUE || hDevice == nullptr || lpOverlapped != nullptr ||
        lpBytesReturned == nullptr || (nInBufferSize > 0 && lpInBuffer == nullptr) ||
        (nOutBufferSize > 0 && lpOutBuffer == nullptr) || nInBufferSize > DEVICE_WIRE_MAX_INPUT ||
        nOutBufferSize > DEVICE_WIRE_MAX_OUTPUT) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpBytesReturned = 0;
    const int Socket = HandleToSocket(hDevice);

    uint8_t Request[DEVICE_WIRE_HEADER_SIZE + DEVICE_WIRE_MAX_INPUT];
    PutWireU32(Request, DEVICE_WIRE_REQUEST_MAGIC);
    PutWireU32(Request + 4, dwIoControlCode);
    PutWireU32(Request + 8, nInBufferSize);
    PutWireU32(Request + 12, nOutBufferSize);
    if (nInBufferSize > 0) {
        std::memcpy(Request + DEVICE_WIRE_HEADER_SIZE, lpInBuffer, nInBufferSize);
    }
    if (!SendDeviceBytes(Socket, Request, DEVICE_WIRE_HEADER_SIZE + nInBufferSize)) {
        return FailBrokenConnection(Socket);
    }

    uint8_t Reply[DEVICE_WIRE_HEADER_SIZE];
    if (!ReceiveDeviceBytes(Socket, Reply, sizeof(Reply))) {
        return FailBrokenConnection(Socket);
    }
    const uint32_t Magic = GetWireU32(Reply);
    const uint32_t Succeeded = GetWireU32(Reply + 4);
    const uint32_t ErrorCode = GetWireU32(Reply + 8);
    const uint32_t Returned = GetWireU32(Reply + 12);
    // A driver never returns more than the caller offered.
    if (Magic != DEVICE_WIRE_REPLY_MAGIC || Succeeded > 1 || Returned > nOutBufferSize ||
        (Succeeded == 0 && Returned != 0)) {
        return FailBrokenConnection(Socket);
    }
    if (Returned > 0 && !ReceiveDeviceBytes(Socket, lpOutBuffer, static_cast<size_t>(Returned))) {
        return FailBrokenConnection(Socket);
    }
    if (Succeeded == 0) {
        SetLastErrorCode(ErrorCode);
        return FALSE;
    }
    *lpBytesReturned = Returned;
    return TRUE;
}
