// What the tool says and sends, as its users and its driver see it: every
// text and control code under one name, typed here once from the tool's
// documented behaviour (never taken from the tool's own sources), so that a
// changed message fails every suite that compares against it.
//
// Texts end in "\n"; a Windows host expects each as CR LF. The FORMAT_ texts
// take their placeholders as the tool documents them: lower-case hex, no
// leading zeros.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Front end.
inline constexpr char EXPECTED_USAGE[] =
    "Please specify one of the following options to run the tool!\n"
    "\t/s       Display current EMP com2 port setting.\n"
    "\t/d       Disable EMP on com2 port.\n"
    "\t/r       Restore EMP on com2 port.\n";
inline constexpr char EXPECTED_INVALID_OPTIONS[] = "Invalid command options!\n";
inline constexpr char EXPECTED_NO_DEVICE[] = "Unable to open handle to IPMI driver!\n";

// Show.
inline constexpr char EXPECTED_SHOWS_DISABLED[] = "\n\nEMP on Com2 port is currently disabled!\n\n";
inline constexpr char EXPECTED_SHOWS_ENABLED[] = "\n\nEMP on Com2 port is currently enabled!\n\n";
inline constexpr char EXPECTED_FORMAT_SHOW_MISMATCH[] =
    "IPMI status 0x%x read 0x%x, expected 0x34 or 0xb4\n";

// Disable and restore.
inline constexpr char EXPECTED_WROTE[] = "Successfully wrote IPMI setting\nVerifying setting....\n";
inline constexpr char EXPECTED_POWER_CYCLE_NOTICE[] =
    "Please shutdown the system, remove both power cords from the system for 20 seconds, "
    "reinsert line cables and reboot for the settings to take effect.\n";
inline constexpr char EXPECTED_DISABLED_CONFIRMATION[] =
    "\n\nEMP on com2 has been disabled!\n\n"
    "Please shutdown the system, remove both power cords from the system for 20 seconds, "
    "reinsert line cables and reboot for the settings to take effect.\n";
inline constexpr char EXPECTED_ENABLED_CONFIRMATION[] =
    "\n\nEMP on Com2 port has been enabled!\n\n"
    "Please shutdown the system, remove both power cords from the system for 20 seconds, "
    "reinsert line cables and reboot for the settings to take effect.\n";
inline constexpr char EXPECTED_FORMAT_DISABLE_MISMATCH[] =
    "IPMI status 0x%x read 0x%x, expected 0x34\n";
inline constexpr char EXPECTED_FORMAT_RESTORE_MISMATCH[] =
    "IPMI status 0x%x read 0x%x, expected 0xb4\n";

// Failed requests; the placeholder is the last-error code.
inline constexpr char EXPECTED_FORMAT_WRITE_FAILURE[] =
    "Could not write IPMI setting, status = 0x%x\n";
inline constexpr char EXPECTED_FORMAT_READBACK_FAILURE[] =
    "Could not readback IPMI setting, status = 0x%x\n";

// The driver protocol.
inline constexpr char EXPECTED_DEVICE_PATH[] = "\\\\.\\IPMIDEV";
// The open: read and write access, no sharing, an existing device, normal
// attributes.
inline constexpr uint32_t EXPECTED_OPEN_ACCESS = 0xC0000000u;
inline constexpr uint32_t EXPECTED_OPEN_SHARE_MODE = 0;
inline constexpr uint32_t EXPECTED_OPEN_DISPOSITION = 3;
inline constexpr uint32_t EXPECTED_OPEN_FLAGS = 0x80u;
inline constexpr uint32_t EXPECTED_IOCTL_READ = 0x810C4C08u;
inline constexpr uint32_t EXPECTED_IOCTL_WRITE = 0x810C4C0Cu;
inline constexpr uint8_t EXPECTED_SETTING_DISABLED = 0x34;
inline constexpr uint8_t EXPECTED_SETTING_ENABLED = 0xB4;
inline constexpr uint32_t EXPECTED_RESPONSE_LENGTH = 20;

// The request bytes, and the first Count bytes of a successful reply.
inline const std::vector<uint8_t> EXPECTED_READ_REQUEST = {0x01, 0x01, 0x01};

inline std::vector<uint8_t> ExpectedWriteRequest(uint8_t Setting) {
    return {0x01, 0x01, 0x00, Setting};
}

inline std::vector<uint8_t> ExpectedReplyPrefix(uint8_t Status, uint8_t Setting, size_t Count) {
    std::vector<uint8_t> Reply(EXPECTED_RESPONSE_LENGTH, 0x00);
    Reply[0] = Status;
    Reply[2] = Setting;
    Reply.resize(Count);
    return Reply;
}

// Requests as a simulated driver logs them: code, input bytes, output length.
inline constexpr char EXPECTED_WIRE_READ[] = "810c4c08 01 01 01 out=20";
inline constexpr char EXPECTED_WIRE_WRITE_DISABLED[] = "810c4c0c 01 01 00 34 out=20";
inline constexpr char EXPECTED_WIRE_WRITE_ENABLED[] = "810c4c0c 01 01 00 b4 out=20";

// The formatted texts, for a given reply or error code.
inline std::string ExpectedText(const char* Format, unsigned First, unsigned Second = 0) {
    char Text[160];
    std::snprintf(Text, sizeof(Text), Format, First, Second);
    return Text;
}

inline std::string ExpectedShow(unsigned Status, unsigned Setting) {
    if (Status == 0 && Setting == EXPECTED_SETTING_DISABLED) {
        return EXPECTED_SHOWS_DISABLED;
    }
    if (Status == 0 && Setting == EXPECTED_SETTING_ENABLED) {
        return EXPECTED_SHOWS_ENABLED;
    }
    return ExpectedText(EXPECTED_FORMAT_SHOW_MISMATCH, Status, Setting);
}

// What disable (Target 0x34) or restore (0xB4) prints for its read-back.
inline std::string ExpectedReadBack(uint8_t Target, unsigned Status, unsigned Setting) {
    const bool Disabling = Target == EXPECTED_SETTING_DISABLED;
    if (Status == 0 && Setting == Target) {
        return Disabling ? EXPECTED_DISABLED_CONFIRMATION : EXPECTED_ENABLED_CONFIRMATION;
    }
    return ExpectedText(Disabling ? EXPECTED_FORMAT_DISABLE_MISMATCH
                                  : EXPECTED_FORMAT_RESTORE_MISMATCH,
                        Status, Setting);
}

inline std::string ExpectedWriteFailure(uint32_t Code) {
    return ExpectedText(EXPECTED_FORMAT_WRITE_FAILURE, Code);
}

inline std::string ExpectedReadbackFailure(uint32_t Code) {
    return ExpectedText(EXPECTED_FORMAT_READBACK_FAILURE, Code);
}

inline std::string ExpectedInvalidAndUsage() {
    return std::string(EXPECTED_INVALID_OPTIONS) + EXPECTED_USAGE;
}
