#include "ipmi_channel.h"

#include <cstring>

// Held until the process ends; the end of the process releases it.
static HANDLE g_IpmiDevice = INVALID_HANDLE_VALUE;
static IpmiSettingRequest g_IpmiRequest;
static IpmiSettingResponse g_IpmiResponse;

BOOL OpenIpmiDevice(void) {
    g_IpmiDevice = CreateFileA(IPMI_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return g_IpmiDevice != INVALID_HANDLE_VALUE;
}

static BOOL SendIpmiRequest(DWORD Code, DWORD RequestLength) {
    // A reply shorter than the area must not leave an earlier reply's bytes
    // behind, or a short read-back could confirm a setting it never carried.
    std::memset(&g_IpmiResponse, 0, sizeof(g_IpmiResponse));
    DWORD BytesReturned = 0;
    return DeviceIoControl(g_IpmiDevice, Code, &g_IpmiRequest, RequestLength, &g_IpmiResponse,
                           IPMI_RESPONSE_LENGTH, &BytesReturned, nullptr);
}

BOOL ReadEmpSetting(void) {
    g_IpmiRequest.Prefix[0] = 0x01;
    g_IpmiRequest.Prefix[1] = 0x01;
    g_IpmiRequest.ReadFlag = 0x01;
    return SendIpmiRequest(IOCTL_IPMI_READ_SETTING, IPMI_READ_REQUEST_LENGTH);
}

BOOL WriteEmpSetting(uint8_t Value) {
    g_IpmiRequest.Prefix[0] = 0x01;
    g_IpmiRequest.Prefix[1] = 0x01;
    g_IpmiRequest.ReadFlag = 0x00;
    g_IpmiRequest.Setting = Value;
    return SendIpmiRequest(IOCTL_IPMI_WRITE_SETTING, IPMI_WRITE_REQUEST_LENGTH);
}

const IpmiSettingResponse* GetIpmiSettingResponse(void) {
    return &g_IpmiResponse;
}
