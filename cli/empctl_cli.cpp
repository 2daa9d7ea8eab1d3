#include "empctl_cli.h"

#include "console_output.h"
#include "emp_operations.h"
#include "ipmi_channel.h"

struct EmpOption {
    const char* Text;
    bool PrintsUsage; // "/?" asks for the usage and needs no device
    EmpAction Action;
};

// Compared in this order; the first match wins.
static const EmpOption EMP_OPTIONS[] = {
    {"/?", true, EmpAction::Show},
    {"/s", false, EmpAction::Show},
    {"/d", false, EmpAction::Disable},
    {"/r", false, EmpAction::Restore},
};

void PrintUsage(void) {
    ConsolePrint("Please specify one of the following options to run the tool!\n"
                 "\t/s       Display current EMP com2 port setting.\n"
                 "\t/d       Disable EMP on com2 port.\n"
                 "\t/r       Restore EMP on com2 port.\n");
}

void PrintInvalidOptions(void) {
    ConsolePrint("Invalid command options!\n");
}

// Folds ASCII letters only, whatever the locale says.
static char FoldAsciiCase(char Letter) {
    return Letter >= 'A' && Letter <= 'Z' ? static_cast<char>(Letter - 'A' + 'a') : Letter;
}

static bool MatchesOption(const char* Argument, const char* Option) {
    while (*Argument != '\0' && FoldAsciiCase(*Argument) == FoldAsciiCase(*Option)) {
        ++Argument;
        ++Option;
    }
    return *Argument == '\0' && *Option == '\0';
}

static const EmpOption* FindEmpOption(const char* Argument) {
    for (const EmpOption& Option : EMP_OPTIONS) {
        if (MatchesOption(Argument, Option.Text)) {
            return &Option;
        }
    }
    return nullptr;
}

static void RunEmpAction(EmpAction Action) {
    switch (Action) {
    case EmpAction::Show:
        ShowEmpSetting();
        break;
    case EmpAction::Disable:
        ChangeEmpSetting(EMP_SETTING_DISABLED);
        break;
    case EmpAction::Restore:
        ChangeEmpSetting(EMP_SETTING_ENABLED);
        break;
    }
}

int RunEmpctl(int ArgumentCount, char** Arguments) {
    const int OptionCount = ArgumentCount > 1 ? ArgumentCount - 1 : 0;
    if (OptionCount == 0) {
        PrintUsage();
        return EMPCTL_EXIT_SUCCESS;
    }

    const EmpOption* Option = OptionCount == 1 ? FindEmpOption(Arguments[1]) : nullptr;
    if (Option == nullptr) {
        PrintInvalidOptions();
        PrintUsage();
        return EMPCTL_EXIT_SUCCESS;
    }
    if (Option->PrintsUsage) {
        PrintUsage();
        return EMPCTL_EXIT_SUCCESS;
    }

    // Opened only now, so usage and bad command lines work without a driver.
    if (!OpenIpmiDevice()) {
        ConsolePrint("Unable to open handle to IPMI driver!\n");
        return EMPCTL_EXIT_NO_DEVICE;
    }
    RunEmpAction(Option->Action);
    return EMPCTL_EXIT_SUCCESS;
}
