// Wire format between the stand-in device calls and a simulated driver
// process. One request is answered by one reply on the same stream
// connection; all integers are little-endian 32-bit.
//
//   request: magic, code, input length, output length, input bytes
//   reply:   magic, result (1 success, 0 failure), error code,
//            bytes returned, then that many output bytes
//
// The sockets that carry it are in device_socket.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define DEVICE_WIRE_REQUEST_MAGIC 0x51524449u // "IDRQ"
#define DEVICE_WIRE_REPLY_MAGIC 0x50524449u   // "IDRP"
#define DEVICE_WIRE_HEADER_SIZE 16u
#define DEVICE_WIRE_MAX_INPUT 4096u
#define DEVICE_WIRE_MAX_OUTPUT 4096u

inline void PutWireU32(uint8_t* Bytes, uint32_t Value) {
    Bytes[0] = static_cast<uint8_t>(Value);
    Bytes[1] = static_cast<uint8_t>(Value >> 8);
    Bytes[2] = static_cast<uint8_t>(Value >> 16);
    Bytes[3] = static_cast<uint8_t>(Value >> 24);
}

inline uint32_t GetWireU32(const uint8_t* Bytes) {
    return static_cast<uint32_t>(Bytes[0]) | (static_cast<uint32_t>(Bytes[1]) << 8) |
           (static_cast<uint32_t>(Bytes[2]) << 16) | (static_cast<uint32_t>(Bytes[3]) << 24);
}
