// The process runner on Windows: CreateProcessA with both pipes read while
// the time limit runs.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "process_runner.h"

#include <cstring>
#include <string>
#include <thread>

namespace {

// Windows command-line quoting as the C runtime parses it: backslashes are
// literal except before a quote, where they and the quote are escaped.
std::string QuoteArgument(const std::string& Argument) {
    if (!Argument.empty() && Argument.find_first_of(" \t\"") == std::string::npos) {
        return Argument;
    }
    std::string Quoted = "\"";
    size_t Backslashes = 0;
    for (char Letter : Argument) {
        if (Letter == '\\') {
            ++Backslashes;
            continue;
        }
        Quoted.append(Letter == '"' ? 2 * Backslashes + 1 : Backslashes, '\\');
        Backslashes = 0;
        Quoted += Letter;
    }
    Quoted.append(2 * Backslashes, '\\');
    return Quoted + "\"";
}

void DrainPipe(HANDLE Pipe, std::string* Sink) {
    char Buffer[4096];
    DWORD Count = 0;
    while (ReadFile(Pipe, Buffer, sizeof(Buffer), &Count, nullptr) && Count > 0) {
        Sink->append(Buffer, Count);
    }
}

void CloseIfOpen(void** Handle) {
    if (*Handle != nullptr) {
        CloseHandle(*Handle);
        *Handle = nullptr;
    }
}

} // namespace

bool StartProcess(const std::vector<std::string>& Arguments, RunningProcess* Process,
                  const ProcessOptions& Options) {
    // Windows has no signal to leave ignored.
    (void)Options;
    if (Arguments.empty()) {
        return false;
    }
    std::string CommandLine;
    for (const std::string& Argument : Arguments) {
        CommandLine += (CommandLine.empty() ? "" : " ") + QuoteArgument(Argument);
    }
    std::vector<char> MutableCommandLine(CommandLine.begin(), CommandLine.end());
    MutableCommandLine.push_back('\0');

    SECURITY_ATTRIBUTES Inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE OutRead = nullptr;
    HANDLE OutWrite = nullptr;
    HANDLE ErrRead = nullptr;
    HANDLE ErrWrite = nullptr;
    if (!CreatePipe(&OutRead, &OutWrite, &Inheritable, 0)) {
        return false;
    }
    if (!CreatePipe(&ErrRead, &ErrWrite, &Inheritable, 0)) {
        CloseHandle(OutRead);
        CloseHandle(OutWrite);
        return false;
    }
    SetHandleInformation(OutRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(ErrRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA Startup = {};
    Startup.cb = sizeof(Startup);
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdInput = INVALID_HANDLE_VALUE;
    Startup.hStdOutput = OutWrite;
    Startup.hStdError = ErrWrite;
    PROCESS_INFORMATION Started = {};
    const bool Created =
        CreateProcessA(Arguments[0].c_str(), MutableCommandLine.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, nullptr, &Startup, &Started) != 0;
    CloseHandle(OutWrite);
    CloseHandle(ErrWrite);
    if (!Created) {
        CloseHandle(OutRead);
        CloseHandle(ErrRead);
        return false;
    }
    CloseHandle(Started.hThread);
    Process->Process = Started.hProcess;
    Process->StdoutPipe = OutRead;
    Process->StderrPipe = ErrRead;
    return true;
}

ProcessResult FinishProcess(RunningProcess* Process, int TimeoutMilliseconds) {
    ProcessResult Result;
    if (Process->Process == nullptr) {
        return Result;
    }
    Result.Started = true;
    // Both pipes are drained while the time runs, so that a full pipe never
    // stalls the program; killing it at the limit ends the reads.
    std::thread OutputReader(DrainPipe, Process->StdoutPipe, &Result.Stdout);
    std::thread ErrorReader(DrainPipe, Process->StderrPipe, &Result.Stderr);
    const DWORD Limit = TimeoutMilliseconds > 0 ? static_cast<DWORD>(TimeoutMilliseconds) : 0;
    if (WaitForSingleObject(Process->Process, Limit) != WAIT_OBJECT_0) {
        Result.TimedOut = true;
        TerminateProcess(Process->Process, 1);
        WaitForSingleObject(Process->Process, INFINITE);
    }
    OutputReader.join();
    ErrorReader.join();
    DWORD ExitCode = 0;
    GetExitCodeProcess(Process->Process, &ExitCode);
    Result.ExitStatus = ExitCode;
    CloseIfOpen(&Process->Process);
    CloseIfOpen(&Process->StdoutPipe);
    CloseIfOpen(&Process->StderrPipe);
    return Result;
}
