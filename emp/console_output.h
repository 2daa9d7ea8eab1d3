// Every message of the tool leaves through here, to standard output.
#pragma once

#if defined(__GNUC__)
#define CONSOLE_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define CONSOLE_PRINTF_FORMAT
#endif

// printf-style on purpose: one formatting path for every message, checked
// by the compiler against its arguments, and no heap.
void ConsolePrint(const char* Format, ...) CONSOLE_PRINTF_FORMAT; // NOLINT(cert-dcl50-cpp)
