#include "console_capture.h"

#include "console_output.h"
#include "win32_double.h"

#include <cstdarg>
#include <cstdio>

static char* g_Captured = nullptr;
static size_t g_CaptureSize = 0;
static size_t g_CapturedLength = 0;
static bool g_CaptureOverflowed = false;

void StartConsoleCapture(char* Buffer, size_t Size) {
    g_Captured = Buffer;
    g_CaptureSize = Size;
    g_CapturedLength = 0;
    g_CaptureOverflowed = false;
    if (Size > 0) {
        Buffer[0] = '\0';
    }
}

const char* GetCapturedConsole(size_t* Length, bool* Overflowed) {
    *Length = g_CapturedLength;
    *Overflowed = g_CaptureOverflowed;
    return g_Captured;
}

void ConsolePrint(const char* Format, ...) { // NOLINT(cert-dcl50-cpp)
    SetWin32DoubleLastError(CONSOLE_CAPTURE_LAST_ERROR);
    const size_t Room = g_CaptureSize - g_CapturedLength;
    if (g_Captured == nullptr || Room == 0) {
        g_CaptureOverflowed = true;
        return;
    }
    va_list Arguments;
    va_start(Arguments, Format);
    const int Written = std::vsnprintf(g_Captured + g_CapturedLength, Room, Format, Arguments);
    va_end(Arguments);
    if (Written < 0 || static_cast<size_t>(Written) >= Room) {
        g_CaptureOverflowed = true;
        g_CapturedLength = g_CaptureSize - 1;
        return;
    }
    g_CapturedLength += static_cast<size_t>(Written);
}
