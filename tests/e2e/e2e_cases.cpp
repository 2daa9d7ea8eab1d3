#include "e2e_cases.h"

const char E2E_USAGE[] = "Please specify one of the following options to run the tool!\n"
                         "\t/s       Display current EMP com2 port setting.\n"
                         "\t/d       Disable EMP on com2 port.\n"
                         "\t/r       Restore EMP on com2 port.\n";
const char E2E_INVALID_AND_USAGE[] =
    "Invalid command options!\n"
    "Please specify one of the following options to run the tool!\n"
    "\t/s       Display current EMP com2 port setting.\n"
    "\t/d       Disable EMP on com2 port.\n"
    "\t/r       Restore EMP on com2 port.\n";
const char E2E_NO_DEVICE[] = "Unable to open handle to IPMI driver!\n";

namespace {

const char WROTE[] = "Successfully wrote IPMI setting\nVerifying setting....\n";
const char NOTICE[] = "Please shutdown the system, remove both power cords from the system for 20 "
                      "seconds, reinsert line cables and reboot for the settings to take effect.\n";
const std::string DISABLED_CONFIRMATION =
    std::string("\n\nEMP on com2 has been disabled!\n\n") + NOTICE;
const std::string ENABLED_CONFIRMATION =
    std::string("\n\nEMP on Com2 port has been enabled!\n\n") + NOTICE;
const char SHOWS_DISABLED[] = "\n\nEMP on Com2 port is currently disabled!\n\n";
const char SHOWS_ENABLED[] = "\n\nEMP on Com2 port is currently enabled!\n\n";

const char READ[] = "810c4c08 01 01 01 out=20";
const char WRITE_DISABLED[] = "810c4c0c 01 01 00 34 out=20";
const char WRITE_ENABLED[] = "810c4c0c 01 01 00 b4 out=20";

SimulatedDriver WithSetting(uint8_t Setting) {
    SimulatedDriver Driver;
    Driver.Setting = Setting;
    return Driver;
}

std::vector<EndToEndCase> BuildCases() {
    std::vector<EndToEndCase> Cases;

    // Command lines that never reach the device.
    Cases.push_back({"NoArgument", {}, {{{}, E2E_USAGE, 0}}, {}, 0xB4});
    Cases.push_back({"Help", {}, {{{"/?"}, E2E_USAGE, 0}}, {}, 0xB4});
    Cases.push_back({"UnknownOption", {}, {{{"/x"}, E2E_INVALID_AND_USAGE, 0}}, {}, 0xB4});
    Cases.push_back({"WholeWordOption", {}, {{{"/show"}, E2E_INVALID_AND_USAGE, 0}}, {}, 0xB4});
    Cases.push_back({"ShowTwice", {}, {{{"/s", "/s"}, E2E_INVALID_AND_USAGE, 0}}, {}, 0xB4});

    // The main paths.
    Cases.push_back({"ShowEnabled", {}, {{{"/s"}, SHOWS_ENABLED, 0}}, {READ}, 0xB4});
    Cases.push_back(
        {"ShowDisabledUpperCase", WithSetting(0x34), {{{"/S"}, SHOWS_DISABLED, 0}}, {READ}, 0x34});
    Cases.push_back({"DisableThenShow",
                     {},
                     {{{"/d"}, WROTE + DISABLED_CONFIRMATION, 0}, {{"/s"}, SHOWS_DISABLED, 0}},
                     {WRITE_DISABLED, READ, READ},
                     0x34});
    Cases.push_back({"RestoreThenShow",
                     WithSetting(0x34),
                     {{{"/R"}, WROTE + ENABLED_CONFIRMATION, 0}, {{"/s"}, SHOWS_ENABLED, 0}},
                     {WRITE_ENABLED, READ, READ},
                     0xB4});
    Cases.push_back({"DisableWhenAlreadyDisabled",
                     WithSetting(0x34),
                     {{{"/d"}, WROTE + DISABLED_CONFIRMATION, 0}},
                     {WRITE_DISABLED, READ},
                     0x34});

    // Replies that do not confirm.
    {
        SimulatedDriver Driver = WithSetting(0x35);
        Cases.push_back({"ShowUnknownSetting",
                         Driver,
                         {{{"/s"}, "IPMI status 0x0 read 0x35, expected 0x34 or 0xb4\n", 0}},
                         {READ},
                         0x35});
    }
    {
        SimulatedDriver Driver;
        Driver.Status = 0xC1;
        Cases.push_back({"ShowNonZeroStatus",
                         Driver,
                         {{{"/s"}, "IPMI status 0xc1 read 0xb4, expected 0x34 or 0xb4\n", 0}},
                         {READ},
                         0xB4});
    }
    {
        SimulatedDriver Driver;
        Driver.KeepSetting = true;
        Cases.push_back(
            {"DisableNotTaken",
             Driver,
             {{{"/d"}, std::string(WROTE) + "IPMI status 0x0 read 0xb4, expected 0x34\n", 0}},
             {WRITE_DISABLED, READ},
             0xB4});
    }
    {
        // The write's reply carries 34 at offset 2; a read-back that returns
        // nothing must not confirm it.
        SimulatedDriver Driver;
        Driver.ReadBytes = 0;
        Cases.push_back(
            {"DisableEmptyReadBack",
             Driver,
             {{{"/d"}, std::string(WROTE) + "IPMI status 0x0 read 0x0, expected 0x34\n", 0}},
             {WRITE_DISABLED, READ},
             0x34});
    }
    {
        SimulatedDriver Driver = WithSetting(0x34);
        Driver.ReadBytes = 2;
        Cases.push_back(
            {"RestoreShortReadBack",
             Driver,
             {{{"/r"}, std::string(WROTE) + "IPMI status 0x0 read 0x0, expected 0xb4\n", 0}},
             {WRITE_ENABLED, READ},
             0xB4});
    }

    // Failed requests.
    {
        SimulatedDriver Driver;
        Driver.FailReads = true;
        Driver.ReadError = 1;
        Cases.push_back({"ShowReadFails",
                         Driver,
                         {{{"/s"}, "Could not readback IPMI setting, status = 0x1\n", 0}},
                         {READ},
                         0xB4});
    }
    {
        SimulatedDriver Driver = WithSetting(0x34);
        Driver.FailWrites = true;
        Driver.WriteError = 0x1F;
        Cases.push_back({"RestoreWriteFails",
                         Driver,
                         {{{"/r"},
                           "Could not write IPMI setting, status = 0x1f\n"
                           "IPMI status 0x0 read 0x34, expected 0xb4\n",
                           0}},
                         {WRITE_ENABLED, READ},
                         0x34});
    }
    {
        SimulatedDriver Driver = WithSetting(0x34);
        Driver.FailWrites = true;
        Driver.WriteError = 0x45D;
        Cases.push_back({"DisableWriteFailsButSettingIsThere",
                         Driver,
                         {{{"/d"},
                           "Could not write IPMI setting, status = 0x45d\n" + DISABLED_CONFIRMATION,
                           0}},
                         {WRITE_DISABLED, READ},
                         0x34});
    }
    {
        SimulatedDriver Driver;
        Driver.FailReads = true;
        Driver.ReadError = 0x57;
        Cases.push_back(
            {"RestoreReadBackFails",
             Driver,
             {{{"/r"}, std::string(WROTE) + "Could not readback IPMI setting, status = 0x57\n", 0}},
             {WRITE_ENABLED, READ},
             0xB4});
    }
    return Cases;
}

} // namespace

const std::vector<EndToEndCase>& GetEndToEndCases() {
    static const std::vector<EndToEndCase> Cases = BuildCases();
    return Cases;
}
