// Stands in for the tool's ConsolePrint at link time: everything the tool
// says lands in a caller's buffer instead of on standard output. Like a
// console write through the C runtime, each print may change the thread's
// last error; this one always does, to CONSOLE_CAPTURE_LAST_ERROR, so a
// caller that takes GetLastError() after printing gets that instead of the
// driver's code.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define CONSOLE_CAPTURE_LAST_ERROR 0x00C0FFEEu

// The text lands in Buffer, NUL-terminated; Size includes the NUL.
void StartConsoleCapture(char* Buffer, size_t Size);

// The text captured since StartConsoleCapture. Overflowed is set when the
// tool said more than the buffer holds; the text is then cut.
const char* GetCapturedConsole(size_t* Length, bool* Overflowed);
