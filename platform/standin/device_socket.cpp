#include "device_socket.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <unistd.h>

bool BuildDeviceSocketAddress(const char* DeviceName, sockaddr_un* Address, socklen_t* Length) {
    static const char Prefix[] = "win32-device:";
    const size_t PrefixLength = sizeof(Prefix) - 1;
    const size_t NameLength = std::strlen(DeviceName);
    std::memset(Address, 0, sizeof(*Address));
    Address->sun_family = AF_UNIX;
    // Leading NUL selects the abstract namespace: no file, no permissions.
    if (NameLength == 0 || 1 + PrefixLength + NameLength > sizeof(Address->sun_path)) {
        return false;
    }
    char* Path = Address->sun_path;
    std::memcpy(Path + 1, Prefix, PrefixLength);
    for (size_t Index = 0; Index < NameLength; ++Index) {
        char Letter = DeviceName[Index];
        if (Letter >= 'a' && Letter <= 'z') {
            Letter = static_cast<char>(Letter - 'a' + 'A');
        }
        Path[1 + PrefixLength + Index] = Letter;
    }
    *Length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + PrefixLength + NameLength);
    return true;
}

int ConnectDeviceSocket(const char* DeviceName, int* Socket) {
    sockaddr_un Address;
    socklen_t Length = 0;
    if (!BuildDeviceSocketAddress(DeviceName, &Address, &Length)) {
        errno = ENAMETOOLONG;
        return DEVICE_SOCKET_BAD_NAME;
    }
    const int Fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0) {
        return DEVICE_SOCKET_NO_SOCKET;
    }
    int Connected = 0;
    do {
        Connected = connect(Fd, reinterpret_cast<const sockaddr*>(&Address), Length);
    } while (Connected != 0 && errno == EINTR);
    if (Connected != 0) {
        const int Reason = errno;
        close(Fd);
        errno = Reason;
        return DEVICE_SOCKET_NOT_CONNECTED;
    }
    *Socket = Fd;
    return DEVICE_SOCKET_OPENED;
}

int ListenOnDeviceSocket(const char* DeviceName, int SocketFlags, int Backlog, int* Socket) {
    sockaddr_un Address;
    socklen_t Length = 0;
    if (!BuildDeviceSocketAddress(DeviceName, &Address, &Length)) {
        errno = ENAMETOOLONG;
        return DEVICE_SOCKET_BAD_NAME;
    }
    const int Fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SocketFlags, 0);
    if (Fd < 0) {
        return DEVICE_SOCKET_NO_SOCKET;
    }
    int Failed = DEVICE_SOCKET_OPENED;
    if (bind(Fd, reinterpret_cast<const sockaddr*>(&Address), Length) != 0) {
        Failed = DEVICE_SOCKET_NOT_BOUND;
    } else if (listen(Fd, Backlog) != 0) {
        Failed = DEVICE_SOCKET_NOT_LISTENING;
    }
    if (Failed != DEVICE_SOCKET_OPENED) {
        const int Reason = errno;
        close(Fd);
        errno = Reason;
        return Failed;
    }
    *Socket = Fd;
    return DEVICE_SOCKET_OPENED;
}

// Worth another attempt: a signal, or (only where a wait decides when to
// try) a non-blocking socket that was not ready after all. On a blocking
// socket EAGAIN is its time-out.
static bool IsTransient(int Error, bool Waiting) {
    return Error == EINTR || (Waiting && (Error == EAGAIN || Error == EWOULDBLOCK));
}

bool SendDeviceBytes(int Socket, const void* Bytes, size_t Length, DeviceSocketWait Wait,
                     void* Context) {
    const uint8_t* Next = static_cast<const uint8_t*>(Bytes);
    while (Length > 0) {
        if (Wait != nullptr && !Wait(Socket, POLLOUT, Context)) {
            return false;
        }
        const ssize_t Sent = send(Socket, Next, Length, MSG_NOSIGNAL);
        if (Sent > 0) {
            Next += Sent;
            Length -= static_cast<size_t>(Sent);
        } else if (Sent == 0 || !IsTransient(errno, Wait != nullptr)) {
            return false;
        }
    }
    return true;
}

bool ReceiveDeviceBytes(int Socket, void* Bytes, size_t Length, DeviceSocketWait Wait,
                        void* Context) {
    uint8_t* Next = static_cast<uint8_t*>(Bytes);
    while (Length > 0) {
        if (Wait != nullptr && !Wait(Socket, POLLIN, Context)) {
            return false;
        }
        const ssize_t Received = recv(Socket, Next, Length, 0);
        if (Received > 0) {
            Next += Received;
            Length -= static_cast<size_t>(Received);
        } else if (Received == 0 || !IsTransient(errno, Wait != nullptr)) {
            return false;
        }
    }
    return true;
}
