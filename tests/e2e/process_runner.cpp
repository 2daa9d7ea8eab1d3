#include "process_runner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point Deadline) {
    const auto Left =
        std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
    return Left > 0 ? static_cast<int>(Left) : 0;
}

std::vector<char*> ToArgv(const std::vector<std::string>& Arguments) {
    std::vector<char*> Argv;
    Argv.reserve(Arguments.size() + 1);
    for (const std::string& Argument : Arguments) {
        Argv.push_back(const_cast<char*>(Argument.c_str()));
    }
    Argv.push_back(nullptr);
    return Argv;
}

int DecodeWaitStatus(int Status) {
    if (WIFEXITED(Status)) {
        return WEXITSTATUS(Status);
    }
    if (WIFSIGNALED(Status)) {
        return 128 + WTERMSIG(Status);
    }
    return -1;
}

// Waits for Pid until Deadline; returns false if it is still running.
bool WaitUntil(pid_t Pid, Clock::time_point Deadline, int* Status) {
    for (;;) {
        const pid_t Done = waitpid(Pid, Status, WNOHANG);
        if (Done == Pid) {
            return true;
        }
        if (Done < 0 && errno != EINTR) {
            return true;
        }
        if (Clock::now() >= Deadline) {
            return false;
        }
        usleep(2000);
    }
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& Arguments, int TimeoutMilliseconds) {
    RunningProcess Process;
    if (!StartProcess(Arguments, &Process)) {
        return ProcessResult();
    }
    return FinishProcess(&Process, TimeoutMilliseconds);
}

bool StartProcess(const std::vector<std::string>& Arguments, RunningProcess* Process) {
    int OutPipe[2];
    int ErrPipe[2];
    if (pipe2(OutPipe, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(ErrPipe, O_CLOEXEC) != 0) {
        close(OutPipe[0]);
        close(OutPipe[1]);
        return false;
    }
    std::vector<char*> Argv = ToArgv(Arguments);
    const pid_t Pid = fork();
    if (Pid == 0) {
        const int NullInput = open("/dev/null", O_RDONLY);
        dup2(NullInput, 0);
        dup2(OutPipe[1], 1);
        dup2(ErrPipe[1], 2);
        execv(Argv[0], Argv.data());
        _exit(127);
    }
    close(OutPipe[1]);
    close(ErrPipe[1]);
    if (Pid < 0) {
        close(OutPipe[0]);
        close(ErrPipe[0]);
        return false;
    }
    Process->Pid = Pid;
    Process->StdoutPipe = OutPipe[0];
    Process->StderrPipe = ErrPipe[0];
    return true;
}

ProcessResult FinishProcess(RunningProcess* Process, int TimeoutMilliseconds) {
    ProcessResult Result;
    if (Process->Pid <= 0) {
        return Result;
    }
    const pid_t Pid = Process->Pid;
    Result.Started = true;

    const Clock::time_point Deadline =
        Clock::now() + std::chrono::milliseconds(TimeoutMilliseconds);
    pollfd Fds[2] = {{Process->StdoutPipe, POLLIN, 0}, {Process->StderrPipe, POLLIN, 0}};
    std::string* Sinks[2] = {&Result.Stdout, &Result.Stderr};
    int Open = 2;
    while (Open > 0) {
        const int Ready = poll(Fds, 2, MillisecondsLeft(Deadline));
        if (Ready < 0 && errno == EINTR) {
            continue;
        }
        if (Ready <= 0) {
            Result.TimedOut = true;
            break;
        }
        for (int Index = 0; Index < 2; ++Index) {
            if (Fds[Index].fd < 0 || Fds[Index].revents == 0) {
                continue;
            }
            char Buffer[4096];
            const ssize_t Count = read(Fds[Index].fd, Buffer, sizeof(Buffer));
            if (Count > 0) {
                Sinks[Index]->append(Buffer, static_cast<size_t>(Count));
            } else if (Count == 0 || errno != EINTR) {
                close(Fds[Index].fd);
                Fds[Index].fd = -1;
                --Open;
            }
        }
    }
    for (pollfd& Fd : Fds) {
        if (Fd.fd >= 0) {
            close(Fd.fd);
        }
    }

    int Status = 0;
    if (Result.TimedOut || !WaitUntil(Pid, Deadline, &Status)) {
        Result.TimedOut = true;
        kill(Pid, SIGKILL);
        waitpid(Pid, &Status, 0);
    }
    Result.ExitStatus = DecodeWaitStatus(Status);
    Process->Pid = -1;
    Process->StdoutPipe = -1;
    Process->StderrPipe = -1;
    return Result;
}

bool StartBackgroundProcess(const std::vector<std::string>& Arguments,
                            const std::string& StderrFile, int TimeoutMilliseconds,
                            BackgroundProcess* Process, std::string* FirstLine) {
    int OutPipe[2];
    if (pipe2(OutPipe, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<char*> Argv = ToArgv(Arguments);
    const pid_t Pid = fork();
    if (Pid == 0) {
        const int NullInput = open("/dev/null", O_RDONLY);
        const int ErrorFile = open(StderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(NullInput, 0);
        dup2(OutPipe[1], 1);
        dup2(ErrorFile, 2);
        execv(Argv[0], Argv.data());
        _exit(127);
    }
    close(OutPipe[1]);
    if (Pid < 0) {
        close(OutPipe[0]);
        return false;
    }
    Process->Pid = Pid;
    Process->StdoutPipe = OutPipe[0];

    const Clock::time_point Deadline =
        Clock::now() + std::chrono::milliseconds(TimeoutMilliseconds);
    FirstLine->clear();
    for (;;) {
        pollfd Fd = {OutPipe[0], POLLIN, 0};
        const int Ready = poll(&Fd, 1, MillisecondsLeft(Deadline));
        if (Ready < 0 && errno == EINTR) {
            continue;
        }
        if (Ready <= 0) {
            return false;
        }
        char Letter;
        const ssize_t Count = read(OutPipe[0], &Letter, 1);
        if (Count <= 0) {
            return false;
        }
        if (Letter == '\n') {
            return true;
        }
        FirstLine->push_back(Letter);
    }
}

int StopBackgroundProcess(BackgroundProcess* Process, int Signal, int TimeoutMilliseconds) {
    if (Process->Pid <= 0) {
        return -1;
    }
    kill(Process->Pid, Signal);
    int Status = 0;
    int ExitStatus = -1;
    const Clock::time_point Deadline =
        Clock::now() + std::chrono::milliseconds(TimeoutMilliseconds);
    if (WaitUntil(Process->Pid, Deadline, &Status)) {
        ExitStatus = DecodeWaitStatus(Status);
    } else {
        kill(Process->Pid, SIGKILL);
        waitpid(Process->Pid, &Status, 0);
    }
    if (Process->StdoutPipe >= 0) {
        close(Process->StdoutPipe);
    }
    Process->Pid = -1;
    Process->StdoutPipe = -1;
    return ExitStatus;
}

std::string MakeTemporaryFolder() {
    const char* Base = std::getenv("TMPDIR");
    std::string Template =
        std::string(Base != nullptr && *Base != '\0' ? Base : "/tmp") + "/empctl-e2e-XXXXXX";
    if (mkdtemp(Template.data()) == nullptr) {
        return "";
    }
    return Template;
}

void RemoveFolder(const std::string& Folder) {
    if (Folder.empty()) {
        return;
    }
    nftw(
        Folder.c_str(),
        [](const char* Path, const struct stat*, int, struct FTW*) { return remove(Path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string ReadWholeFile(const std::string& Path) {
    std::ifstream File(Path, std::ios::binary);
    std::ostringstream Text;
    Text << File.rdbuf();
    return Text.str();
}

std::vector<std::string> ReadLines(const std::string& Path) {
    std::vector<std::string> Lines;
    std::ifstream File(Path);
    std::string Line;
    while (std::getline(File, Line)) {
        Lines.push_back(Line);
    }
    return Lines;
}
