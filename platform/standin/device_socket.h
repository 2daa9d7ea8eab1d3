// The local stream sockets that carry the device wire: the address a device
// name maps to, opening either end, and whole-buffer transfers that retry
// after a signal and never raise SIGPIPE.
#pragma once

#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>

// How an open ended; errno holds the failing call's reason.
#define DEVICE_SOCKET_OPENED 0
#define DEVICE_SOCKET_BAD_NAME 1
#define DEVICE_SOCKET_NO_SOCKET 2
#define DEVICE_SOCKET_NOT_CONNECTED 3
#define DEVICE_SOCKET_NOT_BOUND 4
#define DEVICE_SOCKET_NOT_LISTENING 5

// The abstract-namespace socket that serves "\\.\<DeviceName>" is
// "\0win32-device:<DEVICENAME>", the name folded to upper case as Windows
// device names are case-insensitive. False when the name is empty or too long.
bool BuildDeviceSocketAddress(const char* DeviceName, sockaddr_un* Address, socklen_t* Length);

// A client connection to the device; *Socket is set only when opened.
int ConnectDeviceSocket(const char* DeviceName, int* Socket);

// The serving end, bound and listening. SocketFlags may add SOCK_NONBLOCK.
int ListenOnDeviceSocket(const char* DeviceName, int SocketFlags, int Backlog, int* Socket);

// Called before every transfer attempt with the poll events it needs;
// returning false abandons the transfer. With no wait the calls block, and a
// socket time-out ends the transfer as a failure.
typedef bool (*DeviceSocketWait)(int Socket, short Events, void* Context);

// False when the peer is gone, the socket fails or the wait gives up.
bool SendDeviceBytes(int Socket, const void* Bytes, size_t Length, DeviceSocketWait Wait = nullptr,
                     void* Context = nullptr);
bool ReceiveDeviceBytes(int Socket, void* Bytes, size_t Length, DeviceSocketWait Wait = nullptr,
                        void* Context = nullptr);
