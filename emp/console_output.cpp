#include "console_output.h"

#include <cstdarg>
#include <cstdio>

void ConsolePrint(const char* Format, ...) { // NOLINT(cert-dcl50-cpp)
    va_list Arguments;
    va_start(Arguments, Format);
    std::vfprintf(stdout, Format, Arguments);
    va_end(Arguments);
}
