// Every message of the tool leaves through here, to standard output.
#pragma once

#if defined(__GNUC__)
#define CONSOLE_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define CONSOLE_PRINTF_FORMAT
#endif

void ConsolePrint(const char* Format, ...) CONSOLE_PRINTF_FORMAT;
