#include "captured_console.h"

#include "console_output.h"

#include <cstdarg>
#include <cstdio>

// Several times the longest run the tool can produce (invalid options and
// the usage), so a cut always means the tool said too much.
#define CAPTURE_BUFFER_SIZE 4096u

static char g_Captured[CAPTURE_BUFFER_SIZE];
static size_t g_CapturedLength = 0;
static bool g_CaptureOverflowed = false;

void StartConsoleCapture(void) {
    g_Captured[0] = '\0';
    g_CapturedLength = 0;
    g_CaptureOverflowed = false;
}

const char* GetCapturedConsole(size_t* Length, bool* Overflowed) {
    *Length = g_CapturedLength;
    *Overflowed = g_CaptureOverflowed;
    return g_Captured;
}

void ConsolePrint(const char* Format, ...) {
    const size_t Room = CAPTURE_BUFFER_SIZE - g_CapturedLength;
    va_list Arguments;
    va_start(Arguments, Format);
    const int Written = std::vsnprintf(g_Captured + g_CapturedLength, Room, Format, Arguments);
    va_end(Arguments);
    if (Written < 0 || static_cast<size_t>(Written) >= Room) {
        g_CaptureOverflowed = true;
        g_CapturedLength = CAPTURE_BUFFER_SIZE - 1;
        return;
    }
    g_CapturedLength += static_cast<size_t>(Written);
}
