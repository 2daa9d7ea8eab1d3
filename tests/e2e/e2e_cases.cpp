#include "e2e_cases.h"

#include "empctl_expected.h"

namespace {

SimulatedDriver WithSetting(uint8_t Setting) {
    SimulatedDriver Driver;
    Driver.Setting = Setting;
    return Driver;
}

std::vector<EndToEndCase> BuildCases() {
    std::vector<EndToEndCase> Cases;
    const std::string InvalidAndUsage = ExpectedInvalidAndUsage();
    const std::string Wrote = EXPECTED_WROTE;

    // Command lines that never reach the device.
    Cases.push_back({"NoArgument", {}, {{{}, EXPECTED_USAGE, 0}}, {}, 0xB4});
    Cases.push_back({"Help", {}, {{{"/?"}, EXPECTED_USAGE, 0}}, {}, 0xB4});
    Cases.push_back({"UnknownOption", {}, {{{"/x"}, InvalidAndUsage, 0}}, {}, 0xB4});
    Cases.push_back({"WholeWordOption", {}, {{{"/show"}, InvalidAndUsage, 0}}, {}, 0xB4});
    Cases.push_back({"ShowTwice", {}, {{{"/s", "/s"}, InvalidAndUsage, 0}}, {}, 0xB4});

    // The main paths.
    Cases.push_back(
        {"ShowEnabled", {}, {{{"/s"}, EXPECTED_SHOWS_ENABLED, 0}}, {EXPECTED_WIRE_READ}, 0xB4});
    Cases.push_back({"ShowDisabledUpperCase",
                     WithSetting(0x34),
                     {{{"/S"}, EXPECTED_SHOWS_DISABLED, 0}},
                     {EXPECTED_WIRE_READ},
                     0x34});
    Cases.push_back({"DisableThenShow",
                     {},
                     {{{"/d"}, Wrote + EXPECTED_DISABLED_CONFIRMATION, 0},
                      {{"/s"}, EXPECTED_SHOWS_DISABLED, 0}},
                     {EXPECTED_WIRE_WRITE_DISABLED, EXPECTED_WIRE_READ, EXPECTED_WIRE_READ},
                     0x34});
    Cases.push_back(
        {"RestoreThenShow",
         WithSetting(0x34),
         {{{"/R"}, Wrote + EXPECTED_ENABLED_CONFIRMATION, 0}, {{"/s"}, EXPECTED_SHOWS_ENABLED, 0}},
         {EXPECTED_WIRE_WRITE_ENABLED, EXPECTED_WIRE_READ, EXPECTED_WIRE_READ},
         0xB4});
    Cases.push_back({"DisableWhenAlreadyDisabled",
                     WithSetting(0x34),
                     {{{"/d"}, Wrote + EXPECTED_DISABLED_CONFIRMATION, 0}},
                     {EXPECTED_WIRE_WRITE_DISABLED, EXPECTED_WIRE_READ},
                     0x34});

    // Replies that do not confirm.
    {
        SimulatedDriver Driver = WithSetting(0x35);
        Cases.push_back({"ShowUnknownSetting",
                         Driver,
                         {{{"/s"}, ExpectedShow(0x00, 0x35), 0}},
                         {EXPECTED_WIRE_READ},
                         0x35});
    }
    {
        SimulatedDriver Driver;
        Driver.Status = 0xC1;
        Cases.push_back({"ShowNonZeroStatus",
                         Driver,
                         {{{"/s"}, ExpectedShow(0xC1, 0xB4), 0}},
                         {EXPECTED_WIRE_READ},
                         0xB4});
    }
    {
        SimulatedDriver Driver;
        Driver.KeepSetting = true;
        Cases.push_back(
            {"DisableNotTaken",
             Driver,
             {{{"/d"}, Wrote + ExpectedReadBack(EXPECTED_SETTING_DISABLED, 0x00, 0xB4), 0}},
             {EXPECTED_WIRE_WRITE_DISABLED, EXPECTED_WIRE_READ},
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
             {{{"/d"}, Wrote + ExpectedReadBack(EXPECTED_SETTING_DISABLED, 0x00, 0x00), 0}},
             {EXPECTED_WIRE_WRITE_DISABLED, EXPECTED_WIRE_READ},
             0x34});
    }
    {
        SimulatedDriver Driver = WithSetting(0x34);
        Driver.ReadBytes = 2;
        Cases.push_back(
            {"RestoreShortReadBack",
             Driver,
             {{{"/r"}, Wrote + ExpectedReadBack(EXPECTED_SETTING_ENABLED, 0x00, 0x00), 0}},
             {EXPECTED_WIRE_WRITE_ENABLED, EXPECTED_WIRE_READ},
             0xB4});
    }

    // Failed requests.
    {
        SimulatedDriver Driver;
        Driver.FailReads = true;
        Driver.ReadError = 1;
        Cases.push_back({"ShowReadFails",
                         Driver,
                         {{{"/s"}, ExpectedReadbackFailure(0x1), 0}},
                         {EXPECTED_WIRE_READ},
                         0xB4});
    }
    {
        SimulatedDriver Driver = WithSetting(0x34);
        Driver.FailWrites = true;
        Driver.WriteError = 0x1F;
        Cases.push_back(
            {"RestoreWriteFails",
             Driver,
             {{{"/r"},
               ExpectedWriteFailure(0x1F) + ExpectedReadBack(EXPECTED_SETTING_ENABLED, 0x00, 0x34),
               0}},
             {EXPECTED_WIRE_WRITE_ENABLED, EXPECTED_WIRE_READ},
             0x34});
    }
    {
        SimulatedDriver Driver = WithSetting(0x34);
        Driver.FailWrites = true;
        Driver.WriteError = 0x45D;
        Cases.push_back(
            {"DisableWriteFailsButSettingIsThere",
             Driver,
             {{{"/d"}, ExpectedWriteFailure(0x45D) + EXPECTED_DISABLED_CONFIRMATION, 0}},
             {EXPECTED_WIRE_WRITE_DISABLED, EXPECTED_WIRE_READ},
             0x34});
    }
    {
        SimulatedDriver Driver;
        Driver.FailReads = true;
        Driver.ReadError = 0x57;
        Cases.push_back({"RestoreReadBackFails",
                         Driver,
                         {{{"/r"}, Wrote + ExpectedReadbackFailure(0x57), 0}},
                         {EXPECTED_WIRE_WRITE_ENABLED, EXPECTED_WIRE_READ},
                         0xB4});
    }
    return Cases;
}

} // namespace

const std::vector<EndToEndCase>& GetEndToEndCases() {
    static const std::vector<EndToEndCase> Cases = BuildCases();
    return Cases;
}
