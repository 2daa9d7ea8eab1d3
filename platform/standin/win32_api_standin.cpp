// Stand-in for kernel32's device calls: a device "\\.\NAME" is a simulated
// driver process listening on a local socket, and each DeviceIoControl is
// one request and one reply on the connection that CreateFileA opened.
#include "device_wire.h"
#include "win32_api.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

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

// Anything the socket layer reports is, to the caller, a device that
// stopped working, never a hang and never a crash by SIGPIPE.
static bool SendAll(int Socket, const uint8_t* Bytes, size_t Length) {
    while (Length > 0) {
        const ssize_t Sent = send(Socket, Bytes, Length, MSG_NOSIGNAL);
        if (Sent < 0 && errno == EINTR) {
            continue;
        }
        if (Sent <= 0) {
            return false;
        }
        Bytes += Sent;
        Length -= static_cast<size_t>(Sent);
    }
    return true;
}

static bool ReceiveAll(int Socket, uint8_t* Bytes, size_t Length) {
    while (Length > 0) {
        const ssize_t Received = recv(Socket, Bytes, Length, 0);
        if (Received < 0 && errno == EINTR) {
            continue;
        }
        if (Received <= 0) {
            return false;
        }
        Bytes += Received;
        Length -= static_cast<size_t>(Received);
    }
    return true;
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

    sockaddr_un Address;
    std::memset(&Address, 0, sizeof(Address));
    Address.sun_family = AF_UNIX;
    const size_t PathLength = BuildDeviceSocketName(lpFileName + PrefixLength, Address.sun_path,
                                                    sizeof(Address.sun_path));
    if (PathLength == 0) {
        SetLastErrorCode(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    const int Socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Socket < 0) {
        SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    const socklen_t AddressLength =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + PathLength);
    int Connected;
    do {
        Connected = connect(Socket, reinterpret_cast<const sockaddr*>(&Address), AddressLength);
    } while (Connected != 0 && errno == EINTR);
    if (Connected != 0) {
        const int Reason = errno;
        close(Socket);
        SetLastErrorCode(Reason == EACCES || Reason == EPERM ? ERROR_ACCESS_DENIED
                                                             : ERROR_FILE_NOT_FOUND);
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
    if (!SendAll(Socket, Request, DEVICE_WIRE_HEADER_SIZE + nInBufferSize)) {
        return FailBrokenConnection(Socket);
    }

    uint8_t Reply[DEVICE_WIRE_HEADER_SIZE];
    if (!ReceiveAll(Socket, Reply, sizeof(Reply))) {
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
    if (Returned > 0 &&
        !ReceiveAll(Socket, static_cast<uint8_t*>(lpOutBuffer), static_cast<size_t>(Returned))) {
        return FailBrokenConnection(Socket);
    }
    if (Succeeded == 0) {
        SetLastErrorCode(ErrorCode);
        return FALSE;
    }
    *lpBytesReturned = Returned;
    return TRUE;
}
