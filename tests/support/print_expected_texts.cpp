// Prints the tool's expected texts and wire lines as one JSON object, so that
// suites outside C++ (the Ansible collection's) compare against the same list
// and fail when a message changes. The FORMAT_ texts stay printf formats;
// "%x" means the same to Python's % operator.
#include "empctl_expected.h"

#include <cstdio>

namespace {

struct ExpectedEntry {
    const char* Name;
    const char* Text;
};

const ExpectedEntry EXPECTED_ENTRIES[] = {
    {"USAGE", EXPECTED_USAGE},
    {"INVALID_OPTIONS", EXPECTED_INVALID_OPTIONS},
    {"NO_DEVICE", EXPECTED_NO_DEVICE},
    {"SHOWS_DISABLED", EXPECTED_SHOWS_DISABLED},
    {"SHOWS_ENABLED", EXPECTED_SHOWS_ENABLED},
    {"FORMAT_SHOW_MISMATCH", EXPECTED_FORMAT_SHOW_MISMATCH},
    {"WROTE", EXPECTED_WROTE},
    {"POWER_CYCLE_NOTICE", EXPECTED_POWER_CYCLE_NOTICE},
    {"DISABLED_CONFIRMATION", EXPECTED_DISABLED_CONFIRMATION},
    {"ENABLED_CONFIRMATION", EXPECTED_ENABLED_CONFIRMATION},
    {"FORMAT_DISABLE_MISMATCH", EXPECTED_FORMAT_DISABLE_MISMATCH},
    {"FORMAT_RESTORE_MISMATCH", EXPECTED_FORMAT_RESTORE_MISMATCH},
    {"FORMAT_WRITE_FAILURE", EXPECTED_FORMAT_WRITE_FAILURE},
    {"FORMAT_READBACK_FAILURE", EXPECTED_FORMAT_READBACK_FAILURE},
    {"DEVICE_PATH", EXPECTED_DEVICE_PATH},
    {"WIRE_READ", EXPECTED_WIRE_READ},
    {"WIRE_WRITE_DISABLED", EXPECTED_WIRE_WRITE_DISABLED},
    {"WIRE_WRITE_ENABLED", EXPECTED_WIRE_WRITE_ENABLED},
};

void PrintJsonString(const char* Text) {
    std::putchar('"');
    for (const char* Next = Text; *Next != '\0'; ++Next) {
        const auto Byte = static_cast<unsigned char>(*Next);
        if (Byte == '"' || Byte == '\\') {
            std::printf("\\%c", Byte);
        } else if (Byte < 0x20) {
            std::printf("\\u%04x", Byte);
        } else {
            std::putchar(Byte);
        }
    }
    std::putchar('"');
}

} // namespace

int main() {
    std::printf("{\n");
    const char* Separator = "";
    for (const ExpectedEntry& Entry : EXPECTED_ENTRIES) {
        std::printf("%s  ", Separator);
        PrintJsonString(Entry.Name);
        std::printf(": ");
        PrintJsonString(Entry.Text);
        Separator = ",\n";
    }
    std::printf(",\n  \"SETTING_DISABLED\": %u,\n  \"SETTING_ENABLED\": %u\n}\n",
                static_cast<unsigned>(EXPECTED_SETTING_DISABLED),
                static_cast<unsigned>(EXPECTED_SETTING_ENABLED));
    return 0;
}
