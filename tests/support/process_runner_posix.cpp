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

Clock::time_point DeadlineIn(int TimeoutMilliseconds) {
    return Clock::now() + std::chrono::milliseconds(TimeoutMilliseconds);
}

std::vector<char*> ToPointers(std::vector<std::string>* Words) {
    std::vector<char*> Pointers;
    Pointers.reserve(Words->size() + 1);
    for (std::string& Word : *Words) {
        Pointers.push_back(Word.data());
    }
    Pointers.push_back(nullptr);
    return Pointers;
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

// Waits for Pid until Deadline; false if it is still running then.
bool WaitUntil(int Pid, Clock::time_point Deadline, int* Status) {
    for (;;) {
        const pid_t Done = waitpid(Pid, Status, WNOHANG);
        if (Done == Pid || (Done < 0 && errno != EINTR)) {
            return true;
        }
        if (Clock::now() >= Deadline) {
            return false;
        }
        usleep(2000);
    }
}

void ClosePipe(int* Fd) {
    if (*Fd >= 0) {
        close(*Fd);
        *Fd = -1;
    }
}

// Runs in the child between fork and exec: only async-signal-safe calls,
// as the parent may have other threads.
[[noreturn]] void ExecChild(char** Argv, int Output, int Errors, int Report, bool IgnoreInterrupt) {
    const int NullInput = open("/dev/null", O_RDONLY);
    dup2(NullInput, 0);
    dup2(Output, 1);
    dup2(Errors, 2);
    // A clean signal state, as a user's shell would give it.
    sigset_t Empty;
    sigemptyset(&Empty);
    sigprocmask(SIG_SETMASK, &Empty, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, IgnoreInterrupt ? SIG_IGN : SIG_DFL);
    execv(Argv[0], Argv);
    const int Error = errno;
    (void)!write(Report, &Error, sizeof(Error));
    _exit(127);
}

} // namespace

bool StartProcess(const std::vector<std::string>& Arguments, RunningProcess* Process,
                  const ProcessOptions& Options) {
    if (Arguments.empty()) {
        return false;
    }
    std::vector<std::string> Words = Arguments;
    std::vector<char*> Argv = ToPointers(&Words);

    // Out, err, and a pipe on which a failed exec reports its errno; exec
    // closes that one, so reading end of file there means the program runs.
    int Pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    for (auto& Pair : Pipes) {
        if (pipe2(Pair, O_CLOEXEC) != 0) {
            for (auto& Open : Pipes) {
                ClosePipe(&Open[0]);
                ClosePipe(&Open[1]);
            }
            return false;
        }
    }
    const pid_t Pid = fork();
    if (Pid == 0) {
        ExecChild(Argv.data(), Pipes[0][1], Pipes[1][1], Pipes[2][1], Options.IgnoreInterrupt);
    }
    for (auto& Pair : Pipes) {
        ClosePipe(&Pair[1]);
    }
    int ExecError = 0;
    ssize_t Reported = -1;
    if (Pid > 0) {
        do {
            Reported = read(Pipes[2][0], &ExecError, sizeof(ExecError));
        } while (Reported < 0 && errno == EINTR);
    }
    ClosePipe(&Pipes[2][0]);
    if (Pid < 0 || Reported > 0) {
        if (Pid > 0) {
            waitpid(Pid, nullptr, 0);
        }
        ClosePipe(&Pipes[0][0]);
        ClosePipe(&Pipes[1][0]);
        return false;
    }
    Process->Pid = Pid;
    Process->StdoutPipe = Pipes[0][0];
    Process->StderrPipe = Pipes[1][0];
    return true;
}

ProcessResult FinishProcess(RunningProcess* Process, int TimeoutMilliseconds) {
    ProcessResult Result;
    if (Process->Pid <= 0) {
        return Result;
    }
    Result.Started = true;
    const Clock::time_point Deadline = DeadlineIn(TimeoutMilliseconds);
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
        ClosePipe(&Fd.fd);
    }

    int Status = 0;
    if (Result.TimedOut || !WaitUntil(Process->Pid, Deadline, &Status)) {
        Result.TimedOut = true;
        kill(Process->Pid, SIGKILL);
        waitpid(Process->Pid, &Status, 0);
    }
    Result.ExitStatus = DecodeWaitStatus(Status);
    Process->Pid = -1;
    Process->StdoutPipe = -1;
    Process->StderrPipe = -1;
    return Result;
}

bool ReadOutputLine(RunningProcess* Process, int TimeoutMilliseconds, std::string* Line) {
    Line->clear();
    const Clock::time_point Deadline = DeadlineIn(TimeoutMilliseconds);
    for (;;) {
        pollfd Fd = {Process->StdoutPipe, POLLIN, 0};
        const int Ready = poll(&Fd, 1, MillisecondsLeft(Deadline));
        if (Ready < 0 && errno == EINTR) {
            continue;
        }
        if (Ready <= 0) {
            return false;
        }
        // One byte at a time: what follows the line stays for FinishProcess.
        char Letter = 0;
        const ssize_t Count = read(Process->StdoutPipe, &Letter, 1);
        if (Count < 0 && errno == EINTR) {
            continue;
        }
        if (Count <= 0) {
            return false;
        }
        if (Letter == '\n') {
            return true;
        }
        Line->push_back(Letter);
    }
}

DaemonStart StartDaemon(const std::vector<std::string>& Arguments, int TimeoutMilliseconds,
                        RunningProcess* Process, const ProcessOptions& Options) {
    DaemonStart Start;
    if (!StartProcess(Arguments, Process, Options)) {
        Start.Failure = "cannot start " + Arguments.at(0);
        return Start;
    }
    Start.Ready = ReadOutputLine(Process, TimeoutMilliseconds, &Start.FirstLine);
    if (!Start.Ready) {
        const ProcessResult Ended = FinishProcess(Process, 1000);
        Start.Failure = "no first line from " + Arguments[0] + " (exit status " +
                        std::to_string(Ended.ExitStatus) + "); stderr: " + Ended.Stderr;
    }
    return Start;
}

ProcessResult StopProcess(RunningProcess* Process, int Signal, int TimeoutMilliseconds) {
    if (Process->Pid > 0) {
        kill(Process->Pid, Signal);
    }
    return FinishProcess(Process, TimeoutMilliseconds);
}

std::string MakeTemporaryFolder(const std::string& Purpose) {
    const char* Base = std::getenv("TMPDIR");
    std::string Template =
        std::string(Base != nullptr && *Base != '\0' ? Base : "/tmp") + "/" + Purpose + "-XXXXXX";
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
