#include "device_wire.h"

#include <cstring>

size_t BuildDeviceSocketName(const char* DeviceName, char* Path, size_t PathSize) {
    static const char Prefix[] = "win32-device:";
    const size_t PrefixLength = sizeof(Prefix) - 1;
    const size_t NameLength = std::strlen(DeviceName);
    // Leading NUL selects the abstract namespace: no file, no permissions.
    if (NameLength == 0 || 1 + PrefixLength + NameLength > PathSize) {
        return 0;
    }
    Path[0] = '\0';
    std::memcpy(Path + 1, Prefix, PrefixLength);
    for (size_t Index = 0; Index < NameLength; ++Index) {
        char Letter = DeviceName[Index];
        if (Letter >= 'a' && Letter <= 'z') {
            Letter = static_cast<char>(Letter - 'a' + 'A');
        }
        Path[1 + PrefixLength + Index] = Letter;
    }
    return 1 + PrefixLength + NameLength;
}
