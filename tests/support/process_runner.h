// Runs programs as child processes with captured output and a time limit,
// so that a hanging program fails its test instead of stalling the suite.
// One interface for the POSIX suites and the Windows suite under Wine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Children inherit the suite's environment (a launcher such as valgrind
// is named there, for the programs a suite starts).
struct ProcessOptions {
    // POSIX: start with SIGINT ignored, as a shell starts a background job.
    bool IgnoreInterrupt = false;
};

struct ProcessResult {
    bool Started = false;
    bool TimedOut = false; // still running at the time limit, and so killed
    // POSIX: the exit code, or 128 + the signal that ended it.
    // Windows: the 32-bit exit code, 0xFFFFFFFF for a program returning -1.
    int64_t ExitStatus = -1;
    std::string Stdout;
    std::string Stderr;
};

// A started child with its stdout and stderr pipes (stdin is empty).
struct RunningProcess {
#ifdef _WIN32
    void* Process = nullptr;
    void* StdoutPipe = nullptr;
    void* StderrPipe = nullptr;
#else
    int Pid = -1;
    int StdoutPipe = -1;
    int StderrPipe = -1;
#endif
};

// Arguments[0] is the program's path; it is not looked up on PATH.
bool StartProcess(const std::vector<std::string>& Arguments, RunningProcess* Process,
                  const ProcessOptions& Options = {});

// Collects what is left of the output and the exit status; a program still
// running at the time limit is killed and reported as TimedOut. A limit of 0
// kills a running program straight away. Safe on a process already finished.
ProcessResult FinishProcess(RunningProcess* Process, int TimeoutMilliseconds);

ProcessResult RunProcess(const std::vector<std::string>& Arguments, int TimeoutMilliseconds,
                         const ProcessOptions& Options = {});

#ifndef _WIN32

struct DaemonStart {
    bool Ready = false;
    std::string FirstLine; // without its line end
    std::string Failure;   // when not Ready: why, with the program's stderr
};

// Starts a daemon and waits for the first line it prints on stdout. A daemon
// that does not get there in time is ended.
DaemonStart StartDaemon(const std::vector<std::string>& Arguments, int TimeoutMilliseconds,
                        RunningProcess* Process, const ProcessOptions& Options = {});

// Reads one line of the process's stdout, leaving the rest in the pipe;
// false at end of output or at the time limit.
bool ReadOutputLine(RunningProcess* Process, int TimeoutMilliseconds, std::string* Line);

// Sends Signal, then finishes the process as FinishProcess does.
ProcessResult StopProcess(RunningProcess* Process, int Signal, int TimeoutMilliseconds);

// A folder under TMPDIR (or /tmp) named after Purpose; empty on failure.
std::string MakeTemporaryFolder(const std::string& Purpose);
void RemoveFolder(const std::string& Folder);
std::string ReadWholeFile(const std::string& Path);
std::vector<std::string> ReadLines(const std::string& Path);

#endif
