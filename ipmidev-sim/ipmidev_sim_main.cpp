// ipmidev-sim: serves the simulated IPMI driver on the abstract socket that
// the stand-in device calls reach for "\\.\IPMIDEV". It answers one client at
// a time, each with as many requests as it likes, until SIGTERM or SIGINT.
#include "device_socket.h"
#include "device_wire.h"
#include "ipmi_driver_logic.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

static const char SIM_PROGRAM[] = "ipmidev-sim";
static const char SIM_DEVICE_NAME[] = "IPMIDEV";
static const char SIM_READY_LINE[] = "ipmidev-sim: serving \\\\.\\IPMIDEV\n";

static const int SIM_EXIT_OK = 0;
static const int SIM_EXIT_FAILURE = 1;
static const int SIM_EXIT_USAGE = 2;

static const int SIM_PARSE_RUN = 0;
static const int SIM_PARSE_HELP = 1;
static const int SIM_PARSE_ERROR = 2;

static const int SIM_IO_DONE = 0;
static const int SIM_IO_CLOSED = 1;
static const int SIM_IO_STOP = 2;

static const int SIM_STATE_LOADED = 0;
static const int SIM_STATE_MISSING = 1;
static const int SIM_STATE_BAD = 2;

// What a driver reports when its hardware cannot complete a request; used
// when a new setting cannot be made durable.
static const uint32_t SIM_ERROR_IO_DEVICE = 1117;
static const int SIM_LISTEN_BACKLOG = 16;
static const size_t SIM_STATE_FILE_LIMIT = 32;

static const char SIM_USAGE[] =
    "usage: ipmidev-sim [--setting HEX] [--status HEX] [--read-bytes N] [--fail-read CODE]\n"
    "                   [--fail-write CODE] [--keep-setting] [--log FILE] [--state FILE]\n"
    "\n"
    "Serves the simulated IPMI driver for \\\\.\\IPMIDEV in the foreground until\n"
    "SIGTERM or SIGINT.\n"
    "\n"
    "  --setting HEX      stored setting byte at start (default b4)\n"
    "  --status HEX       status byte at reply offset 0 (default 00)\n"
    "  --read-bytes N     bytes a read reports returned, 0..20 (default 20)\n"
    "  --fail-read CODE   fail every read with this hex error code\n"
    "  --fail-write CODE  fail every write with this hex error code\n"
    "  --keep-setting     writes succeed but store nothing\n"
    "  --log FILE         append one line per request to FILE\n"
    "  --state FILE       keep the stored setting in FILE across restarts\n";

struct SimOptions {
    IpmiSimState State;
    std::string LogPath;
    std::string StatePath;
};

struct SimDaemon {
    IpmiSimState State;
    int LogFd;
    std::string StatePath;
};

// Keeps every message on one line whatever bytes the user passed.
static std::string QuoteForMessage(const char* Text) {
    std::string Quoted = "'";
    for (; *Text != '\0'; ++Text) {
        const unsigned char Letter = static_cast<unsigned char>(*Text);
        Quoted += (Letter < 0x20 || Letter == 0x7f) ? '?' : static_cast<char>(Letter);
    }
    Quoted += "'";
    return Quoted;
}

static void ReportError(const std::string& Message) {
    std::fprintf(stderr, "%s: %s\n", SIM_PROGRAM, Message.c_str());
    std::fflush(stderr);
}

static std::string DescribeErrno(const std::string& What, const std::string& Path, int Error) {
    return What + " " + QuoteForMessage(Path.c_str()) + ": " + std::strerror(Error);
}

// strtoul with its leniency taken away: digits only (after an optional 0x
// for hex), no sign and no blanks, all of the text used, so that a typo
// cannot pass.
static bool ParseNumber(const char* Text, int Base, uint32_t Maximum, uint32_t* Value) {
    const bool Hex = Base == 16;
    const char* Digits = Text;
    if (Hex && Digits[0] == '0' && (Digits[1] == 'x' || Digits[1] == 'X')) {
        Digits += 2;
    }
    // strtoul would skip blanks and take a sign, and in hex a second 0x.
    const unsigned char First = static_cast<unsigned char>(*Digits);
    if (Hex ? std::isxdigit(First) == 0 || Digits[1] == 'x' || Digits[1] == 'X'
            : std::isdigit(First) == 0) {
        return false;
    }
    char* End = nullptr;
    errno = 0;
    const unsigned long Result = std::strtoul(Digits, &End, Base);
    if (errno != 0 || *End != '\0' || Result > Maximum) {
        return false;
    }
    *Value = static_cast<uint32_t>(Result);
    return true;
}

static bool ParseHexOption(const char* Flag, const char* Text, uint32_t Maximum, uint32_t* Value,
                           std::string* Error) {
    if (!ParseNumber(Text, 16, Maximum, Value)) {
        char Range[32];
        std::snprintf(Range, sizeof(Range), "0..%x", Maximum);
        *Error = "bad value " + QuoteForMessage(Text) + " for " + Flag +
                 ": expected a hex number " + Range;
        return false;
    }
    return true;
}

// getopt_long's values for the options; -h is the only short one.
enum SimOption {
    SIM_OPTION_HELP = 'h',
    SIM_OPTION_SETTING = 256,
    SIM_OPTION_STATUS,
    SIM_OPTION_READ_BYTES,
    SIM_OPTION_FAIL_READ,
    SIM_OPTION_FAIL_WRITE,
    SIM_OPTION_KEEP_SETTING,
    SIM_OPTION_LOG,
    SIM_OPTION_STATE,
};

static const option SIM_OPTIONS[] = {
    {"help", no_argument, nullptr, SIM_OPTION_HELP},
    {"setting", required_argument, nullptr, SIM_OPTION_SETTING},
    {"status", required_argument, nullptr, SIM_OPTION_STATUS},
    {"read-bytes", required_argument, nullptr, SIM_OPTION_READ_BYTES},
    {"fail-read", required_argument, nullptr, SIM_OPTION_FAIL_READ},
    {"fail-write", required_argument, nullptr, SIM_OPTION_FAIL_WRITE},
    {"keep-setting", no_argument, nullptr, SIM_OPTION_KEEP_SETTING},
    {"log", required_argument, nullptr, SIM_OPTION_LOG},
    {"state", required_argument, nullptr, SIM_OPTION_STATE},
    {nullptr, 0, nullptr, 0},
};

static const char* FindOptionName(int Value) {
    for (const option& Option : SIM_OPTIONS) {
        if (Option.name != nullptr && Option.val == Value) {
            return Option.name;
        }
    }
    return "?";
}

// Takes one option's value into Options.
static bool ApplyOption(int Value, const char* Text, SimOptions* Options, std::string* Error) {
    const std::string Flag = std::string("--") + FindOptionName(Value);
    uint32_t Number = 0;
    // A following flag is never mistaken for a value.
    if (std::strncmp(Text, "--", 2) == 0) {
        *Error = "option " + QuoteForMessage(Flag.c_str()) + " needs a value";
        return false;
    }
    switch (Value) {
    case SIM_OPTION_SETTING:
    case SIM_OPTION_STATUS:
        if (!ParseHexOption(Flag.c_str(), Text, 0xff, &Number, Error)) {
            return false;
        }
        if (Value == SIM_OPTION_SETTING) {
            Options->State.Setting = static_cast<uint8_t>(Number);
        } else {
            Options->State.ReplyStatus = static_cast<uint8_t>(Number);
        }
        return true;
    case SIM_OPTION_READ_BYTES:
        if (!ParseNumber(Text, 10, IPMI_SIM_REPLY_SIZE, &Number)) {
            *Error = "bad value " + QuoteForMessage(Text) +
                     " for --read-bytes: expected a decimal number 0..20";
            return false;
        }
        Options->State.ReadBytes = Number;
        return true;
    case SIM_OPTION_FAIL_READ:
    case SIM_OPTION_FAIL_WRITE:
        if (!ParseHexOption(Flag.c_str(), Text, 0xffffffffu, &Number, Error)) {
            return false;
        }
        if (Value == SIM_OPTION_FAIL_READ) {
            Options->State.FailReads = 1;
            Options->State.ReadErrorCode = Number;
        } else {
            Options->State.FailWrites = 1;
            Options->State.WriteErrorCode = Number;
        }
        return true;
    default:
        if (*Text == '\0') {
            *Error = "option " + Flag + " needs a file name";
            return false;
        }
        (Value == SIM_OPTION_LOG ? Options->LogPath : Options->StatePath) = Text;
        return true;
    }
}

static int ParseSimOptions(int ArgCount, char** Args, SimOptions* Options, std::string* Error) {
    IpmiSimInitState(&Options->State);
    // The errors are ours, on one line; getopt_long's own would add more.
    opterr = 0;
    optind = 1;
    for (;;) {
        const int Value = getopt_long(ArgCount, Args, ":h", SIM_OPTIONS, nullptr);
        if (Value == -1) {
            break;
        }
        // A short option's letter may sit inside a cluster of them.
        const char* Typed = Args[optind - 1];
        const std::string Word = std::strncmp(Typed, "--", 2) != 0 && optopt > 0 && Value == '?'
                                     ? std::string("-") + static_cast<char>(optopt)
                                     : std::string(Typed);
        if (Value == SIM_OPTION_HELP) {
            return SIM_PARSE_HELP;
        }
        if (Value == ':') {
            *Error = "option " + QuoteForMessage(Word.c_str()) + " needs a value";
            return SIM_PARSE_ERROR;
        }
        if (Value == '?') {
            *Error = (optopt == SIM_OPTION_KEEP_SETTING || optopt == SIM_OPTION_HELP
                          ? "option " + QuoteForMessage(Word.c_str()) + " takes no value"
                          : "unknown option " + QuoteForMessage(Word.c_str())) +
                     "; try --help";
            return SIM_PARSE_ERROR;
        }
        if (Value == SIM_OPTION_KEEP_SETTING) {
            Options->State.KeepSetting = 1;
        } else if (!ApplyOption(Value, optarg, Options, Error)) {
            return SIM_PARSE_ERROR;
        }
    }
    if (optind < ArgCount) {
        *Error = "unexpected argument " + QuoteForMessage(Args[optind]) + "; try --help";
        return SIM_PARSE_ERROR;
    }
    return SIM_PARSE_RUN;
}

static bool WriteAll(int Fd, const char* Bytes, size_t Length) {
    while (Length > 0) {
        const ssize_t Written = write(Fd, Bytes, Length);
        if (Written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        Bytes += Written;
        Length -= static_cast<size_t>(Written);
    }
    return true;
}

static std::string FolderOf(const std::string& Path) {
    const size_t Slash = Path.find_last_of('/');
    if (Slash == std::string::npos) {
        return ".";
    }
    if (Slash == 0) {
        return "/";
    }
    return Path.substr(0, Slash);
}

static int LoadSettingFile(const std::string& Path, uint8_t* Setting, std::string* Error) {
    // Non-blocking so that a FIFO put there cannot stall the start.
    const int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (Fd < 0) {
        if (errno == ENOENT) {
            return SIM_STATE_MISSING;
        }
        *Error = DescribeErrno("cannot read state file", Path, errno);
        return SIM_STATE_BAD;
    }
    // One byte past the limit tells an oversized file from a full one.
    char Text[SIM_STATE_FILE_LIMIT + 2];
    size_t Length = 0;
    while (Length < SIM_STATE_FILE_LIMIT + 1) {
        const ssize_t Got = read(Fd, Text + Length, SIM_STATE_FILE_LIMIT + 1 - Length);
        if (Got == 0) {
            break;
        }
        if (Got < 0 && errno != EINTR) {
            *Error = DescribeErrno("cannot read state file", Path, errno);
            close(Fd);
            return SIM_STATE_BAD;
        }
        if (Got > 0) {
            Length += static_cast<size_t>(Got);
        }
    }
    close(Fd);
    const bool Oversized = Length > SIM_STATE_FILE_LIMIT;
    while (Length > 0 && (Text[Length - 1] == '\n' || Text[Length - 1] == '\r' ||
                          Text[Length - 1] == ' ' || Text[Length - 1] == '\t')) {
        --Length;
    }
    Text[Length] = '\0';
    uint32_t Value = 0;
    // A NUL inside the text would hide trailing junk from the parser.
    if (Oversized || std::strlen(Text) != Length || !ParseNumber(Text, 16, 0xff, &Value)) {
        *Error = "state file " + QuoteForMessage(Path.c_str()) +
                 " is corrupt: expected a hex byte such as b4";
        return SIM_STATE_BAD;
    }
    *Setting = static_cast<uint8_t>(Value);
    return SIM_STATE_LOADED;
}

// Replaces the file whole, so that a kill at any point leaves either the old
// or the new byte, and syncs the folder so that the rename itself lasts.
static bool SaveSettingFile(const std::string& Path, uint8_t Setting, std::string* Error) {
    const std::string TempPath = Path + ".tmp";
    char Text[4];
    std::snprintf(Text, sizeof(Text), "%02x\n", static_cast<unsigned>(Setting));

    const int Fd = open(TempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (Fd < 0) {
        *Error = DescribeErrno("cannot save state file", Path, errno);
        return false;
    }
    bool Written = WriteAll(Fd, Text, 3) && fsync(Fd) == 0;
    int SavedErrno = errno;
    if (close(Fd) != 0 && Written) {
        Written = false;
        SavedErrno = errno;
    }
    if (!Written) {
        *Error = DescribeErrno("cannot save state file", Path, SavedErrno);
        unlink(TempPath.c_str());
        return false;
    }
    if (rename(TempPath.c_str(), Path.c_str()) != 0) {
        *Error = DescribeErrno("cannot save state file", Path, errno);
        unlink(TempPath.c_str());
        return false;
    }
    const std::string Folder = FolderOf(Path);
    const int FolderFd = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FolderFd < 0 || fsync(FolderFd) != 0) {
        *Error = DescribeErrno("cannot sync folder", Folder, errno);
        if (FolderFd >= 0) {
            close(FolderFd);
        }
        return false;
    }
    close(FolderFd);
    return true;
}

static void AppendLogLine(SimDaemon* Daemon, uint32_t Code, const uint8_t* Input,
                          uint32_t InputLength, uint32_t OutputLength) {
    if (Daemon->LogFd < 0) {
        return;
    }
    std::string Line;
    Line.reserve(3 * InputLength + 32);
    char Piece[32];
    std::snprintf(Piece, sizeof(Piece), "%08x", static_cast<unsigned>(Code));
    Line += Piece;
    for (uint32_t Index = 0; Index < InputLength; ++Index) {
        std::snprintf(Piece, sizeof(Piece), " %02x", static_cast<unsigned>(Input[Index]));
        Line += Piece;
    }
    std::snprintf(Piece, sizeof(Piece), " out=%u\n", static_cast<unsigned>(OutputLength));
    Line += Piece;
    // One write per line: an O_APPEND write lands whole, and nothing is
    // left in a buffer for a kill to lose.
    if (!WriteAll(Daemon->LogFd, Line.data(), Line.size())) {
        ReportError(std::string("cannot write the request log: ") + std::strerror(errno));
    }
}

// Stop signals are taken from a signalfd so that poll sees them; with the
// signals blocked there is no window in which one can slip past a check.
static int OpenStopSignals(std::string* Error) {
    sigset_t Signals;
    sigemptyset(&Signals);
    sigaddset(&Signals, SIGTERM);
    sigaddset(&Signals, SIGINT);
    if (sigprocmask(SIG_BLOCK, &Signals, nullptr) != 0) {
        *Error = std::string("cannot block signals: ") + std::strerror(errno);
        return -1;
    }
    // A shell starts background jobs with SIGINT ignored, and a system may
    // drop an ignored signal even while it is blocked, before the signalfd
    // sees it.
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    // A client that hangs up before its reply must not take us down.
    std::signal(SIGPIPE, SIG_IGN);
    const int SignalFd = signalfd(-1, &Signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (SignalFd < 0) {
        *Error = std::string("cannot open a signalfd: ") + std::strerror(errno);
    }
    return SignalFd;
}

static int OpenDeviceSocket(std::string* Error) {
    int Fd = -1;
    const int Opened =
        ListenOnDeviceSocket(SIM_DEVICE_NAME, SOCK_NONBLOCK, SIM_LISTEN_BACKLOG, &Fd);
    if (Opened == DEVICE_SOCKET_OPENED) {
        return Fd;
    }
    const std::string Reason = std::strerror(errno);
    if (Opened == DEVICE_SOCKET_NOT_BOUND && errno == EADDRINUSE) {
        *Error = "\\\\.\\IPMIDEV is already served by another process";
    } else if (Opened == DEVICE_SOCKET_NOT_BOUND) {
        *Error = "cannot bind the device socket: " + Reason;
    } else if (Opened == DEVICE_SOCKET_NOT_LISTENING) {
        *Error = "cannot listen on the device socket: " + Reason;
    } else {
        *Error = "cannot create a socket: " + Reason;
    }
    return -1;
}

// Returns SIM_IO_DONE once Fd has one of Events (or an error to collect),
// SIM_IO_STOP when a stop signal is pending.
static int WaitForSocket(int Fd, short Events, int SignalFd) {
    for (;;) {
        pollfd Watched[2] = {{SignalFd, POLLIN, 0}, {Fd, Events, 0}};
        if (poll(Watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SIM_IO_CLOSED;
        }
        if (Watched[0].revents != 0) {
            return SIM_IO_STOP;
        }
        if (Watched[1].revents != 0) {
            return SIM_IO_DONE;
        }
    }
}

// A transfer on a client's connection that gives way to a stop signal.
struct SimTransferWait {
    int SignalFd;
    int Ended; // SIM_IO_DONE while it may go on
};

static bool WaitForClientSocket(int Socket, short Events, void* Context) {
    SimTransferWait* Wait = static_cast<SimTransferWait*>(Context);
    Wait->Ended = WaitForSocket(Socket, Events, Wait->SignalFd);
    return Wait->Ended == SIM_IO_DONE;
}

static int ReceiveExactly(int Fd, int SignalFd, uint8_t* Bytes, size_t Length) {
    SimTransferWait Wait = {SignalFd, SIM_IO_DONE};
    if (ReceiveDeviceBytes(Fd, Bytes, Length, WaitForClientSocket, &Wait)) {
        return SIM_IO_DONE;
    }
    return Wait.Ended == SIM_IO_STOP ? SIM_IO_STOP : SIM_IO_CLOSED;
}

static int SendExactly(int Fd, int SignalFd, const uint8_t* Bytes, size_t Length) {
    SimTransferWait Wait = {SignalFd, SIM_IO_DONE};
    if (SendDeviceBytes(Fd, Bytes, Length, WaitForClientSocket, &Wait)) {
        return SIM_IO_DONE;
    }
    return Wait.Ended == SIM_IO_STOP ? SIM_IO_STOP : SIM_IO_CLOSED;
}

static void AnswerRequest(SimDaemon* Daemon, uint32_t Code, const uint8_t* Input,
                          uint32_t InputLength, uint8_t* Output, uint32_t OutputLength,
                          IpmiSimOutcome* Outcome) {
    const uint8_t Previous = Daemon->State.Setting;
    IpmiSimAnswerRequest(&Daemon->State, Code, Input, InputLength, Output, OutputLength, Outcome);
    if (!Outcome->SettingStored || Daemon->StatePath.empty()) {
        return;
    }
    std::string Error;
    if (!SaveSettingFile(Daemon->StatePath, Daemon->State.Setting, &Error)) {
        // A write the client sees succeed must survive a restart, so one
        // that cannot be saved is undone and reported as failed.
        ReportError(Error);
        Daemon->State.Setting = Previous;
        Outcome->Succeeded = 0;
        Outcome->ErrorCode = SIM_ERROR_IO_DEVICE;
        Outcome->BytesReturned = 0;
        Outcome->SettingStored = 0;
    }
}

// Returns true when a stop signal arrived while serving.
static bool ServeClient(SimDaemon* Daemon, int ClientFd, int SignalFd) {
    static uint8_t Input[DEVICE_WIRE_MAX_INPUT];
    static uint8_t Reply[DEVICE_WIRE_HEADER_SIZE + DEVICE_WIRE_MAX_OUTPUT];
    for (;;) {
        uint8_t Header[DEVICE_WIRE_HEADER_SIZE];
        int Result = ReceiveExactly(ClientFd, SignalFd, Header, sizeof(Header));
        if (Result != SIM_IO_DONE) {
            return Result == SIM_IO_STOP;
        }
        const uint32_t Magic = GetWireU32(Header);
        const uint32_t Code = GetWireU32(Header + 4);
        const uint32_t InputLength = GetWireU32(Header + 8);
        const uint32_t OutputLength = GetWireU32(Header + 12);
        // Not our protocol: there is no telling where the next request
        // would start, so the connection goes.
        if (Magic != DEVICE_WIRE_REQUEST_MAGIC || InputLength > DEVICE_WIRE_MAX_INPUT ||
            OutputLength > DEVICE_WIRE_MAX_OUTPUT) {
            return false;
        }
        Result = ReceiveExactly(ClientFd, SignalFd, Input, InputLength);
        if (Result != SIM_IO_DONE) {
            return Result == SIM_IO_STOP;
        }
        AppendLogLine(Daemon, Code, Input, InputLength, OutputLength);

        IpmiSimOutcome Outcome;
        AnswerRequest(Daemon, Code, Input, InputLength, Reply + DEVICE_WIRE_HEADER_SIZE,
                      OutputLength, &Outcome);
        const uint32_t BytesReturned = Outcome.Succeeded ? Outcome.BytesReturned : 0;
        PutWireU32(Reply, DEVICE_WIRE_REPLY_MAGIC);
        PutWireU32(Reply + 4, Outcome.Succeeded ? 1u : 0u);
        PutWireU32(Reply + 8, Outcome.Succeeded ? 0u : Outcome.ErrorCode);
        PutWireU32(Reply + 12, BytesReturned);
        Result = SendExactly(ClientFd, SignalFd, Reply, DEVICE_WIRE_HEADER_SIZE + BytesReturned);
        if (Result != SIM_IO_DONE) {
            return Result == SIM_IO_STOP;
        }
    }
}

static int RunServer(SimDaemon* Daemon, int ListenFd, int SignalFd) {
    for (;;) {
        const int Waited = WaitForSocket(ListenFd, POLLIN, SignalFd);
        if (Waited == SIM_IO_STOP) {
            return SIM_EXIT_OK;
        }
        if (Waited != SIM_IO_DONE) {
            ReportError(std::string("cannot wait for clients: ") + std::strerror(errno));
            return SIM_EXIT_FAILURE;
        }
        const int ClientFd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (ClientFd < 0) {
            // The client may have gone again before we took it.
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
                errno == ECONNABORTED || errno == EPROTO) {
                continue;
            }
            ReportError(std::string("cannot accept a client: ") + std::strerror(errno));
            return SIM_EXIT_FAILURE;
        }
        const bool Stop = ServeClient(Daemon, ClientFd, SignalFd);
        close(ClientFd);
        if (Stop) {
            return SIM_EXIT_OK;
        }
    }
}

// Settles the starting setting: a saved one wins; without one, the file is
// created so that it exists before the first client can ask.
static bool PrepareStateFile(SimDaemon* Daemon, std::string* Error) {
    if (Daemon->StatePath.empty()) {
        return true;
    }
    uint8_t Saved = 0;
    const int Loaded = LoadSettingFile(Daemon->StatePath, &Saved, Error);
    if (Loaded == SIM_STATE_LOADED) {
        Daemon->State.Setting = Saved;
        return true;
    }
    if (Loaded == SIM_STATE_BAD) {
        return false;
    }
    return SaveSettingFile(Daemon->StatePath, Daemon->State.Setting, Error);
}

int main(int ArgCount, char** Args) {
    SimOptions Options;
    std::string Error;
    const int Parsed = ParseSimOptions(ArgCount, Args, &Options, &Error);
    if (Parsed == SIM_PARSE_HELP) {
        std::fputs(SIM_USAGE, stdout);
        return std::fflush(stdout) == 0 ? SIM_EXIT_OK : SIM_EXIT_FAILURE;
    }
    if (Parsed == SIM_PARSE_ERROR) {
        ReportError(Error);
        return SIM_EXIT_USAGE;
    }

    SimDaemon Daemon;
    Daemon.State = Options.State;
    Daemon.LogFd = -1;
    Daemon.StatePath = Options.StatePath;

    const int SignalFd = OpenStopSignals(&Error);
    if (SignalFd < 0) {
        ReportError(Error);
        return SIM_EXIT_FAILURE;
    }
    // The socket is taken first: it is the lock that keeps a second daemon
    // away from the state file.
    const int ListenFd = OpenDeviceSocket(&Error);
    if (ListenFd < 0) {
        ReportError(Error);
        close(SignalFd);
        return SIM_EXIT_FAILURE;
    }
    int ExitCode = SIM_EXIT_FAILURE;
    if (!PrepareStateFile(&Daemon, &Error)) {
        ReportError(Error);
    } else if (!Options.LogPath.empty() &&
               (Daemon.LogFd = open(Options.LogPath.c_str(),
                                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)) < 0) {
        ReportError(DescribeErrno("cannot open log file", Options.LogPath, errno));
    } else {
        std::fputs(SIM_READY_LINE, stdout);
        std::fflush(stdout);
        ExitCode = RunServer(&Daemon, ListenFd, SignalFd);
    }
    if (Daemon.LogFd >= 0) {
        close(Daemon.LogFd);
    }
    close(ListenFd);
    close(SignalFd);
    return ExitCode;
}
