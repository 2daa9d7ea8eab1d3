// Stands in for the tool's ConsolePrint at link time: everything the tool
// says lands in one buffer per run instead of on standard output.
#pragma once

#include <stddef.h>

void StartConsoleCapture(void);

// The text captured since StartConsoleCapture, NUL-terminated. Overflowed is
// set when the tool said more than the buffer holds; the text is then cut.
const char* GetCapturedConsole(size_t* Length, bool* Overflowed);
