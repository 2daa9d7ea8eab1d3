// The channel to the IPMI device driver: one device handle and one request
// and one response area for the whole run.
#pragma once

#include <stdint.h>

#include "win32_api.h"

#define IPMI_DEVICE_PATH "\\\\.\\IPMIDEV"

#define IPMI_DEVICE_TYPE 0x810Cu
#define IOCTL_IPMI_READ_SETTING                                                                    \
    CTL_CODE(IPMI_DEVICE_TYPE, 0x302u, METHOD_BUFFERED, FILE_READ_ACCESS)
// The driver accepts the write with read access too.
#define IOCTL_IPMI_WRITE_SETTING                                                                   \
    CTL_CODE(IPMI_DEVICE_TYPE, 0x303u, METHOD_BUFFERED, FILE_READ_ACCESS)

#define EMP_SETTING_DISABLED 0x34u
#define EMP_SETTING_ENABLED 0xB4u

#define IPMI_READ_REQUEST_LENGTH 3u
#define IPMI_WRITE_REQUEST_LENGTH 4u
#define IPMI_RESPONSE_LENGTH 20u
#define IPMI_STATUS_SUCCESS 0x00u

struct IpmiSettingRequest {
    uint8_t Prefix[2]; // 01 01 in both requests
    uint8_t ReadFlag;  // 01 to read, 00 to write
    uint8_t Setting;   // the new setting byte; sent with a write only
};

struct IpmiSettingResponse {
    uint8_t Status; // IPMI completion status, 00 on success
    uint8_t Reserved1;
    uint8_t Setting; // the EMP setting byte
    uint8_t Reserved2[17];
};

static_assert(sizeof(IpmiSettingRequest) == IPMI_WRITE_REQUEST_LENGTH, "request layout");
static_assert(sizeof(IpmiSettingResponse) == IPMI_RESPONSE_LENGTH, "response layout");
static_assert(IOCTL_IPMI_READ_SETTING == 0x810C4C08u, "read control code");
static_assert(IOCTL_IPMI_WRITE_SETTING == 0x810C4C0Cu, "write control code");

// Each returns the operating system's own result; on failure the caller
// takes GetLastError() before doing anything else.
BOOL OpenIpmiDevice(void);
BOOL ReadEmpSetting(void);
BOOL WriteEmpSetting(uint8_t Value);

// The driver's reply to the last request. Bytes the driver did not return
// read as zero.
const IpmiSettingResponse* GetIpmiSettingResponse(void);
