// The unit tests' side of the Windows-call double: each test scripts the
// open's outcome and a queue of driver replies, and reads back what the code
// under test asked for and what it printed.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "console_capture.h"
#include "win32_double.h"

struct Win32Script {
    bool OpenSucceeds = true;
    DWORD OpenError = ERROR_FILE_NOT_FOUND;
    std::deque<Win32Reply> Replies; // one per DeviceIoControl, in order
};

// The handle the double gives out on a successful open.
extern const HANDLE SCRIPTED_DEVICE_HANDLE;

// A request with no scripted reply left fails the current test.
void StartWin32Script(const Win32Script& Script);
// Replies that the test scripted but the code under test never asked for.
size_t CountUnusedReplies();

// Success, with BytesReturned bytes claimed: Status at offset 0, Setting at 2.
Win32Reply ReplyWithSetting(uint8_t Status, uint8_t Setting, DWORD BytesReturned = 20);
Win32Reply ReplyWithFailure(DWORD ErrorCode);

// The input bytes a recorded request offered.
std::vector<uint8_t> RecordedInput(const Win32RequestRecord& Request);
// The control codes sent this run, in order.
std::vector<DWORD> RecordedCodes();

// Runs Action and returns what it printed through ConsolePrint.
std::string CaptureConsole(const std::function<void()>& Action);
