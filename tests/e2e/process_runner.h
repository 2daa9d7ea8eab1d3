// Runs programs as child processes with captured output and a time limit,
// so that a hanging program fails its test instead of stalling the suite.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessResult {
    bool Started = false;
    bool TimedOut = false;
    int ExitStatus = -1; // the exit code, or 128 + signal when killed
    std::string Stdout;
    std::string Stderr;
};

ProcessResult RunProcess(const std::vector<std::string>& Arguments, int TimeoutMilliseconds);

// RunProcess in two halves, for a test that acts while the program runs.
struct RunningProcess {
    pid_t Pid = -1;
    int StdoutPipe = -1;
    int StderrPipe = -1;
};

bool StartProcess(const std::vector<std::string>& Arguments, RunningProcess* Process);

// Collects the output and the exit status; a program still running at the
// time limit is killed and reported as TimedOut.
ProcessResult FinishProcess(RunningProcess* Process, int TimeoutMilliseconds);

struct BackgroundProcess {
    pid_t Pid = -1;
    int StdoutPipe = -1;
};

// Starts a daemon and waits for the first line it prints on stdout.
bool StartBackgroundProcess(const std::vector<std::string>& Arguments,
                            const std::string& StderrFile, int TimeoutMilliseconds,
                            BackgroundProcess* Process, std::string* FirstLine);

// Sends Signal and waits; returns the exit status as ProcessResult does, or
// -1 when it did not end in time (it is then killed).
int StopBackgroundProcess(BackgroundProcess* Process, int Signal, int TimeoutMilliseconds);

std::string MakeTemporaryFolder();
void RemoveFolder(const std::string& Folder);
std::string ReadWholeFile(const std::string& Path);
std::vector<std::string> ReadLines(const std::string& Path);
