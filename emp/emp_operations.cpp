#include "emp_operations.h"

#include "console_output.h"
#include "ipmi_channel.h"

#define EMP_POWER_CYCLE_NOTICE                                                                     \
    "Please shutdown the system, remove both power cords from the system for 20 seconds, "         \
    "reinsert line cables and reboot for the settings to take effect.\n"

struct EmpChangeMessages {
    uint8_t Target;
    const char* Confirmation;
};

static const EmpChangeMessages EMP_CHANGE_MESSAGES[] = {
    {EMP_SETTING_DISABLED, "\n\nEMP on com2 has been disabled!\n\n" EMP_POWER_CYCLE_NOTICE},
    {EMP_SETTING_ENABLED, "\n\nEMP on Com2 port has been enabled!\n\n" EMP_POWER_CYCLE_NOTICE},
};

static void PrintReadbackFailure(void) {
    const unsigned Error = static_cast<unsigned>(GetLastError());
    ConsolePrint("Could not readback IPMI setting, status = 0x%x\n", Error);
}

void ShowEmpSetting(void) {
    if (!ReadEmpSetting()) {
        PrintReadbackFailure();
        return;
    }
    const IpmiSettingResponse* Response = GetIpmiSettingResponse();
    const unsigned Status = Response->Status;
    const unsigned Setting = Response->Setting;
    if (Status == IPMI_STATUS_SUCCESS && Setting == EMP_SETTING_DISABLED) {
        ConsolePrint("\n\nEMP on Com2 port is currently disabled!\n\n");
    } else if (Status == IPMI_STATUS_SUCCESS && Setting == EMP_SETTING_ENABLED) {
        ConsolePrint("\n\nEMP on Com2 port is currently enabled!\n\n");
    } else {
        ConsolePrint("IPMI status 0x%x read 0x%x, expected 0x34 or 0xb4\n", Status, Setting);
    }
}

static const EmpChangeMessages* FindEmpChangeMessages(uint8_t Target) {
    for (const EmpChangeMessages& Messages : EMP_CHANGE_MESSAGES) {
        if (Messages.Target == Target) {
            return &Messages;
        }
    }
    return nullptr;
}

void ChangeEmpSetting(uint8_t Target) {
    const EmpChangeMessages* Messages = FindEmpChangeMessages(Target);
    if (Messages == nullptr) {
        // Only the two known settings are ever written.
        return;
    }

    // Whether the setting took is decided by the read-back alone, so it runs
    // even after a failed write.
    if (WriteEmpSetting(Target)) {
        ConsolePrint("Successfully wrote IPMI setting\nVerifying setting....\n");
    } else {
        const unsigned Error = static_cast<unsigned>(GetLastError());
        ConsolePrint("Could not write IPMI setting, status = 0x%x\n", Error);
    }

    if (!ReadEmpSetting()) {
        PrintReadbackFailure();
        return;
    }
    const IpmiSettingResponse* Response = GetIpmiSettingResponse();
    const unsigned Status = Response->Status;
    const unsigned Setting = Response->Setting;
    if (Status == IPMI_STATUS_SUCCESS && Setting == Target) {
        ConsolePrint("%s", Messages->Confirmation);
    } else {
        ConsolePrint("IPMI status 0x%x read 0x%x, expected 0x%x\n", Status, Setting,
                     static_cast<unsigned>(Target));
    }
}
