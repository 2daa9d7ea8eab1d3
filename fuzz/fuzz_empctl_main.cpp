// Fuzz target: the whole program from RunEmpctl, against a fuzz-driven double
// of the Windows calls, with every run's calls, output and exit status
// checked against what its command line and the scripted replies imply.
//
// Input, taken from the front (bytes past the end read as zero):
//   1 byte      command line: bits 0-1 = number of arguments (0..3); bit 7
//               with no arguments = no program name either (argc 0)
//   per argument, 1 selector byte:
//                 < 0xC0: EMP_PREPARED_ARGUMENTS[byte % count]
//                 >= 0xC0: junk: 1 length byte (% 8) and that many raw
//                          bytes, cut at the first NUL as argv would be
//   1 byte      bit 0: CreateFileA succeeds
//   per DeviceIoControl the tool makes, drawn when it makes it:
//     1 byte    bit 0: the call succeeds
//     4 bytes   what GetLastError gives after it, least significant first
//     1 byte    the count the driver claims, % 26 (0..25); the double clamps
//               it to the caller's output length
//     count bytes  the reply, from offset 0
//
// Standard output and standard error are pointed at memory files around each
// run: the tool speaks only through ConsolePrint, which is captured here, so
// both must stay empty. Sanitizer reports go to the real standard error.
// Every captured print changes the last error, as a console write may, so a
// failure's code printed after the fact shows as the wrong code.
#include "console_capture.h"
#include "empctl_cli.h"
#include "empctl_expected.h"
#include "fuzz_support.h"
#include "win32_double.h"

#include <sanitizer/common_interface_defs.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

// ---- The command line ----------------------------------------------------

// The accepted spellings, each whole, and near misses of them: spaces,
// doubled or missing characters, other prefixes, non-ASCII bytes, bytes
// that a careless case fold (| 0x20) would take for '/' or '?', and the
// bytes next to the letter ranges that a fold over the wrong range would
// take for an option's character ('_' is '?' + 0x20). New entries go last,
// so the seeds keep their meaning.
static const char* const EMP_PREPARED_ARGUMENTS[] = {
    "/s",    "/S",    "/d",    "/D",   "/r",  "/R",    "/?",    "",    "/",   "s",
    "-s",    "\\s",   "/s ",   " /s",  "/sd", "/ss",   "//s",   "/x",  "/?/", "?",
    "/\x1f", "\x0fs", "/\xd3", "/s\n", "/e",  "/c",    "\x0f?", "/Ss", "/ ",  "/_",
    "/@",    "/`",    "/{",    "/[",   "/~",  "/\x7f", "Os",    "os",
};

#define FUZZ_MAX_ARGUMENTS 3u
#define FUZZ_MAX_JUNK_LENGTH 7u
#define FUZZ_JUNK_SELECTOR 0xC0u

enum class ExpectedRun { Usage, InvalidOptions, Show, Disable, Restore };

// What the tool must make of one argument: the seven spellings it accepts,
// written out rather than folded, and everything else is invalid.
struct AcceptedArgument {
    const char* Text;
    ExpectedRun Run;
};

static const AcceptedArgument ACCEPTED_ARGUMENTS[] = {
    {"/s", ExpectedRun::Show},    {"/S", ExpectedRun::Show},    {"/d", ExpectedRun::Disable},
    {"/D", ExpectedRun::Disable}, {"/r", ExpectedRun::Restore}, {"/R", ExpectedRun::Restore},
    {"/?", ExpectedRun::Usage},
};

struct FuzzCommandLine {
    int ArgumentCount; // as main gets it, the program name included
    std::unique_ptr<char[]> Texts[FUZZ_MAX_ARGUMENTS + 1];
    char* Arguments[FUZZ_MAX_ARGUMENTS + 2]; // NULL-terminated, like argv
};

// Each argument gets a buffer of exactly its length, so that reading past
// its end is caught.
static char* CopyArgument(FuzzCommandLine* CommandLine, unsigned Index, const char* Text,
                          size_t Length) {
    CommandLine->Texts[Index].reset(new char[Length + 1]);
    std::memcpy(CommandLine->Texts[Index].get(), Text, Length);
    CommandLine->Texts[Index][Length] = '\0';
    return CommandLine->Texts[Index].get();
}

static void DrawCommandLine(FuzzInput* Input, FuzzCommandLine* CommandLine) {
    const uint8_t Shape = TakeFuzzByte(Input);
    const unsigned Count = Shape % (FUZZ_MAX_ARGUMENTS + 1);
    for (char*& Argument : CommandLine->Arguments) {
        Argument = nullptr;
    }
    if (Count == 0 && (Shape & 0x80u) != 0) {
        CommandLine->ArgumentCount = 0;
        return;
    }
    CommandLine->ArgumentCount = static_cast<int>(Count) + 1;
    CommandLine->Arguments[0] = CopyArgument(CommandLine, 0, "empctl", 6);
    for (unsigned Index = 1; Index <= Count; ++Index) {
        const uint8_t Selector = TakeFuzzByte(Input);
        if (Selector < FUZZ_JUNK_SELECTOR) {
            const size_t Choices =
                sizeof(EMP_PREPARED_ARGUMENTS) / sizeof(EMP_PREPARED_ARGUMENTS[0]);
            const char* Text = EMP_PREPARED_ARGUMENTS[Selector % Choices];
            CommandLine->Arguments[Index] =
                CopyArgument(CommandLine, Index, Text, std::strlen(Text));
            continue;
        }
        char Junk[FUZZ_MAX_JUNK_LENGTH];
        const size_t Drawn = TakeFuzzByte(Input) % (FUZZ_MAX_JUNK_LENGTH + 1);
        size_t Length = Drawn;
        for (size_t Position = 0; Position < Drawn; ++Position) {
            Junk[Position] = static_cast<char>(TakeFuzzByte(Input));
            if (Junk[Position] == '\0' && Length == Drawn) {
                Length = Position;
            }
        }
        CommandLine->Arguments[Index] = CopyArgument(CommandLine, Index, Junk, Length);
    }
}

static ExpectedRun ExpectRun(const FuzzCommandLine* CommandLine) {
    if (CommandLine->ArgumentCount <= 1) {
        return ExpectedRun::Usage;
    }
    if (CommandLine->ArgumentCount > 2) {
        return ExpectedRun::InvalidOptions;
    }
    for (const AcceptedArgument& Accepted : ACCEPTED_ARGUMENTS) {
        if (std::strcmp(CommandLine->Arguments[1], Accepted.Text) == 0) {
            return Accepted.Run;
        }
    }
    return ExpectedRun::InvalidOptions;
}

static bool NeedsDevice(ExpectedRun Run) {
    return Run == ExpectedRun::Show || Run == ExpectedRun::Disable || Run == ExpectedRun::Restore;
}

// ---- Printable forms for the failure messages ------------------------------

static void AppendEscaped(char* Buffer, size_t Size, const char* Text, size_t Length) {
    size_t Used = std::strlen(Buffer);
    for (size_t Index = 0; Index < Length && Used + 5 < Size; ++Index) {
        const unsigned char Letter = static_cast<unsigned char>(Text[Index]);
        if (Letter == '\n') {
            Used += static_cast<size_t>(std::snprintf(Buffer + Used, Size - Used, "\\n"));
        } else if (Letter == '\t') {
            Used += static_cast<size_t>(std::snprintf(Buffer + Used, Size - Used, "\\t"));
        } else if (Letter < 0x20 || Letter >= 0x7F || Letter == '"' || Letter == '\\') {
            Used +=
                static_cast<size_t>(std::snprintf(Buffer + Used, Size - Used, "\\x%02x", Letter));
        } else {
            Buffer[Used++] = static_cast<char>(Letter);
            Buffer[Used] = '\0';
        }
    }
}

static const char* DescribeCommandLine(const FuzzCommandLine* CommandLine) {
    static char Description[256];
    Description[0] = '\0';
    if (CommandLine->ArgumentCount == 0) {
        return " (argc 0)";
    }
    for (int Index = 1; Index < CommandLine->ArgumentCount; ++Index) {
        const char* Argument = CommandLine->Arguments[Index];
        // The quotes around it are ours; any inside it come out escaped.
        std::strncat(Description, " \"", sizeof(Description) - std::strlen(Description) - 1);
        AppendEscaped(Description, sizeof(Description), Argument, std::strlen(Argument));
        std::strncat(Description, "\"", sizeof(Description) - std::strlen(Description) - 1);
    }
    return CommandLine->ArgumentCount == 1 ? " (no arguments)" : Description;
}

// ---- The tool's texts and a parser for its output ----------------------------

enum class EmpText {
    Usage,
    InvalidOptions,
    OpenFailure,
    ReadbackFailure,
    ShowDisabled,
    ShowEnabled,
    ShowUnexpected,
    WriteSuccess,
    WriteFailure,
    ConfirmDisabled,
    ConfirmEnabled,
    DisableUnexpected,
    RestoreUnexpected,
};

#define FUZZ_BYTE_LIMIT 0xFFu
#define FUZZ_DWORD_LIMIT 0xFFFFFFFFu
#define FUZZ_MAX_PLACEHOLDERS 2u

// Every text the tool can say. "%x" marks a placeholder; Limits holds the
// largest value each may carry: status and setting bytes, or error codes.
struct EmpTextForm {
    EmpText Id;
    const char* Name;
    const char* Text;
    uint32_t Limits[FUZZ_MAX_PLACEHOLDERS];
};

static const EmpTextForm EMP_TEXT_FORMS[] = {
    {EmpText::Usage, "usage", EXPECTED_USAGE, {}},
    {EmpText::InvalidOptions, "invalid-options", EXPECTED_INVALID_OPTIONS, {}},
    {EmpText::OpenFailure, "open-failure", EXPECTED_NO_DEVICE, {}},
    {EmpText::ReadbackFailure,
     "readback-failure",
     EXPECTED_FORMAT_READBACK_FAILURE,
     {FUZZ_DWORD_LIMIT}},
    {EmpText::ShowDisabled, "show-disabled", EXPECTED_SHOWS_DISABLED, {}},
    {EmpText::ShowEnabled, "show-enabled", EXPECTED_SHOWS_ENABLED, {}},
    {EmpText::ShowUnexpected,
     "show-unexpected",
     EXPECTED_FORMAT_SHOW_MISMATCH,
     {FUZZ_BYTE_LIMIT, FUZZ_BYTE_LIMIT}},
    {EmpText::WriteSuccess, "write-success", EXPECTED_WROTE, {}},
    {EmpText::WriteFailure, "write-failure", EXPECTED_FORMAT_WRITE_FAILURE, {FUZZ_DWORD_LIMIT}},
    {EmpText::ConfirmDisabled, "confirm-disabled", EXPECTED_DISABLED_CONFIRMATION, {}},
    {EmpText::ConfirmEnabled, "confirm-enabled", EXPECTED_ENABLED_CONFIRMATION, {}},
    {EmpText::DisableUnexpected,
     "disable-unexpected",
     EXPECTED_FORMAT_DISABLE_MISMATCH,
     {FUZZ_BYTE_LIMIT, FUZZ_BYTE_LIMIT}},
    {EmpText::RestoreUnexpected,
     "restore-unexpected",
     EXPECTED_FORMAT_RESTORE_MISMATCH,
     {FUZZ_BYTE_LIMIT, FUZZ_BYTE_LIMIT}},
};

// One text of the output with its placeholders' values.
struct SaidText {
    EmpText Id;
    uint32_t Values[FUZZ_MAX_PLACEHOLDERS];
    unsigned ValueCount;
};

// No run says more than three texts; room for more lets a run that repeats
// itself be reported as such.
#define FUZZ_MAX_SAID_TEXTS 8u

struct SaidTexts {
    unsigned Count;
    SaidText Texts[FUZZ_MAX_SAID_TEXTS];
};

static const EmpTextForm* FindEmpTextForm(EmpText Id) {
    for (const EmpTextForm& Form : EMP_TEXT_FORMS) {
        if (Form.Id == Id) {
            return &Form;
        }
    }
    return nullptr;
}

static bool IsLowerHexDigit(char Letter) {
    return (Letter >= '0' && Letter <= '9') || (Letter >= 'a' && Letter <= 'f');
}

// Lower-case hex as %x prints it: no leading zeros, no prefix, within Limit.
static size_t MatchHexNumber(const char* Output, size_t Length, uint32_t Limit, uint32_t* Value) {
    size_t Digits = 0;
    uint64_t Result = 0;
    while (Digits < Length && IsLowerHexDigit(Output[Digits])) {
        const char Letter = Output[Digits];
        const unsigned Digit = Letter <= '9' ? static_cast<unsigned>(Letter - '0')
                                             : static_cast<unsigned>(Letter - 'a' + 10);
        Result = Result * 16 + Digit;
        if (Result > Limit) {
            return 0;
        }
        ++Digits;
    }
    if (Digits == 0 || (Digits > 1 && Output[0] == '0')) {
        return 0;
    }
    *Value = static_cast<uint32_t>(Result);
    return Digits;
}

// Returns how much of Output the form covers from its start, or 0.
static size_t MatchEmpTextForm(const EmpTextForm* Form, const char* Output, size_t Length,
                               SaidText* Said) {
    Said->Id = Form->Id;
    Said->ValueCount = 0;
    size_t Used = 0;
    for (const char* Pattern = Form->Text; *Pattern != '\0';) {
        if (Pattern[0] == '%' && Pattern[1] == 'x') {
            uint32_t Value = 0;
            const size_t Digits = MatchHexNumber(Output + Used, Length - Used,
                                                 Form->Limits[Said->ValueCount], &Value);
            if (Digits == 0) {
                return 0;
            }
            Said->Values[Said->ValueCount++] = Value;
            Used += Digits;
            Pattern += 2;
            continue;
        }
        if (Used == Length || Output[Used] != *Pattern) {
            return 0;
        }
        ++Used;
        ++Pattern;
    }
    return Used;
}

static void DescribeSaidTexts(char* Buffer, size_t Size, const SaidTexts* Said) {
    Buffer[0] = '\0';
    size_t Used = 0;
    for (unsigned Index = 0; Index < Said->Count && Used < Size; ++Index) {
        const SaidText* Text = &Said->Texts[Index];
        Used += static_cast<size_t>(
            std::snprintf(Buffer + Used, Size - Used, " %s", FindEmpTextForm(Text->Id)->Name));
        for (unsigned Value = 0; Value < Text->ValueCount && Used < Size; ++Value) {
            Used += static_cast<size_t>(std::snprintf(Buffer + Used, Size - Used, "%c%x",
                                                      Value == 0 ? '(' : ',', Text->Values[Value]));
        }
        if (Text->ValueCount > 0 && Used < Size) {
            Used += static_cast<size_t>(std::snprintf(Buffer + Used, Size - Used, ")"));
        }
    }
}

// Splits the output into the tool's texts; anything else breaks the run.
static void ParseConsoleOutput(const char* Output, size_t Length, const char* CommandLine,
                               SaidTexts* Said) {
    static char Printable[4096];
    Said->Count = 0;
    size_t Offset = 0;
    while (Offset < Length) {
        size_t Used = 0;
        unsigned Matches = 0;
        SaidText Candidate = {};
        for (const EmpTextForm& Form : EMP_TEXT_FORMS) {
            const size_t FormUsed =
                MatchEmpTextForm(&Form, Output + Offset, Length - Offset, &Candidate);
            if (FormUsed != 0) {
                ++Matches;
                Used = FormUsed;
                if (Said->Count < FUZZ_MAX_SAID_TEXTS) {
                    Said->Texts[Said->Count] = Candidate;
                }
            }
        }
        if (Matches != 1) {
            Printable[0] = '\0';
            AppendEscaped(Printable, sizeof(Printable), Output, Length);
            FUZZ_CHECK(Matches == 1,
                       "command line%s: output is not a sequence of the tool's texts at offset %zu "
                       "(%u forms match there); output: \"%s\"",
                       CommandLine, Offset, Matches, Printable);
        }
        FUZZ_CHECK(Said->Count < FUZZ_MAX_SAID_TEXTS, "command line%s: more than %u texts",
                   CommandLine, FUZZ_MAX_SAID_TEXTS);
        ++Said->Count;
        Offset += Used;
    }
}

// ---- What the run must have done --------------------------------------------

static void ExpectText(SaidTexts* Expected, EmpText Id, unsigned ValueCount = 0, uint32_t First = 0,
                       uint32_t Second = 0) {
    SaidText* Text = &Expected->Texts[Expected->Count++];
    Text->Id = Id;
    Text->ValueCount = ValueCount;
    Text->Values[0] = First;
    Text->Values[1] = Second;
}

// The read-back as the tool must see it: its reply bytes up to the returned
// count, zeros beyond.
static uint32_t ReplyByteSeen(const Win32Reply* Reply, unsigned Offset) {
    const unsigned Covered = Reply->ClaimedCount < EXPECTED_RESPONSE_LENGTH
                                 ? Reply->ClaimedCount
                                 : EXPECTED_RESPONSE_LENGTH;
    return Offset < Covered ? Reply->Bytes[Offset] : 0u;
}

static void ExpectShow(SaidTexts* Expected, const Win32Reply* Read) {
    if (!Read->Succeeds) {
        ExpectText(Expected, EmpText::ReadbackFailure, 1, Read->ErrorCode);
        return;
    }
    const uint32_t Status = ReplyByteSeen(Read, 0);
    const uint32_t Setting = ReplyByteSeen(Read, 2);
    if (Status == 0 && Setting == EXPECTED_SETTING_DISABLED) {
        ExpectText(Expected, EmpText::ShowDisabled);
    } else if (Status == 0 && Setting == EXPECTED_SETTING_ENABLED) {
        ExpectText(Expected, EmpText::ShowEnabled);
    } else {
        ExpectText(Expected, EmpText::ShowUnexpected, 2, Status, Setting);
    }
}

static void ExpectChange(SaidTexts* Expected, uint32_t Target, const Win32Reply* Write,
                         const Win32Reply* Read) {
    const bool Disabling = Target == EXPECTED_SETTING_DISABLED;
    if (Write->Succeeds) {
        ExpectText(Expected, EmpText::WriteSuccess);
    } else {
        ExpectText(Expected, EmpText::WriteFailure, 1, Write->ErrorCode);
    }
    if (!Read->Succeeds) {
        ExpectText(Expected, EmpText::ReadbackFailure, 1, Read->ErrorCode);
        return;
    }
    const uint32_t Status = ReplyByteSeen(Read, 0);
    const uint32_t Setting = ReplyByteSeen(Read, 2);
    if (Status == 0 && Setting == Target) {
        ExpectText(Expected, Disabling ? EmpText::ConfirmDisabled : EmpText::ConfirmEnabled);
    } else {
        ExpectText(Expected, Disabling ? EmpText::DisableUnexpected : EmpText::RestoreUnexpected, 2,
                   Status, Setting);
    }
}

struct ExpectedRequest {
    DWORD Code;
    DWORD InputLength;
    uint8_t Input[4];
};

static void CheckRequest(const Win32DoubleRecord* Record, unsigned Index, HANDLE Opened,
                         const ExpectedRequest* Expected, const char* CommandLine) {
    const Win32RequestRecord* Request = &Record->Requests[Index];
    FUZZ_CHECK(Request->Device == Opened,
               "command line%s: request %u went to handle %p, not the opened %p", CommandLine,
               Index, Request->Device, Opened);
    FUZZ_CHECK(Request->Code == Expected->Code,
               "command line%s: request %u has code %08x, expected %08x", CommandLine, Index,
               Request->Code, Expected->Code);
    FUZZ_CHECK(Request->InputGiven && Request->InputLength == Expected->InputLength &&
                   std::memcmp(Request->Input, Expected->Input, Expected->InputLength) == 0,
               "command line%s: request %u input (length %u) is not the expected %u bytes "
               "%02x %02x %02x %02x",
               CommandLine, Index, Request->InputLength, Expected->InputLength, Expected->Input[0],
               Expected->Input[1], Expected->Input[2], Expected->Input[3]);
    FUZZ_CHECK(Request->OutputGiven && Request->OutputLength == EXPECTED_RESPONSE_LENGTH,
               "command line%s: request %u output length %u (given %d), expected 20", CommandLine,
               Index, Request->OutputLength, Request->OutputGiven);
    FUZZ_CHECK(!Request->OverlappedGiven, "command line%s: request %u is overlapped", CommandLine,
               Index);
    FUZZ_CHECK(Request->BytesReturnedPlaceGiven,
               "command line%s: request %u gives no place for the returned count", CommandLine,
               Index);
}

// Checks the calls the run made and builds the texts it must have said.
static void CheckCallsAndExpectTexts(ExpectedRun Run, bool OpenSucceeds, HANDLE Opened,
                                     const char* CommandLine, SaidTexts* Expected) {
    const Win32DoubleRecord* Record = GetWin32DoubleRecord();
    Expected->Count = 0;

    const unsigned ExpectedOpens = NeedsDevice(Run) ? 1u : 0u;
    FUZZ_CHECK(Record->OpenCount == ExpectedOpens,
               "command line%s: CreateFileA called %u times, expected %u", CommandLine,
               Record->OpenCount, ExpectedOpens);
    if (ExpectedOpens == 1) {
        const Win32OpenRecord* Open = &Record->Opens[0];
        FUZZ_CHECK(Open->PathGiven && std::strcmp(Open->Path, EXPECTED_DEVICE_PATH) == 0 &&
                       Open->DesiredAccess == EXPECTED_OPEN_ACCESS &&
                       Open->ShareMode == EXPECTED_OPEN_SHARE_MODE &&
                       !Open->SecurityAttributesGiven &&
                       Open->CreationDisposition == EXPECTED_OPEN_DISPOSITION &&
                       Open->FlagsAndAttributes == EXPECTED_OPEN_FLAGS && !Open->TemplateGiven,
                   "command line%s: CreateFileA(\"%s\", %08x, share %u, security %d, "
                   "disposition %u, flags %08x, template %d) is not an unshared open of the "
                   "existing IPMI device for reading and writing",
                   CommandLine, Open->Path, Open->DesiredAccess, Open->ShareMode,
                   Open->SecurityAttributesGiven, Open->CreationDisposition,
                   Open->FlagsAndAttributes, Open->TemplateGiven);
    }

    const ExpectedRequest Read = {EXPECTED_IOCTL_READ, 3, {0x01, 0x01, 0x01, 0x00}};
    const ExpectedRequest WriteDisabled = {
        EXPECTED_IOCTL_WRITE, 4, {0x01, 0x01, 0x00, EXPECTED_SETTING_DISABLED}};
    const ExpectedRequest WriteEnabled = {
        EXPECTED_IOCTL_WRITE, 4, {0x01, 0x01, 0x00, EXPECTED_SETTING_ENABLED}};
    const ExpectedRequest* Requests[2] = {nullptr, nullptr};
    unsigned RequestCount = 0;
    if (NeedsDevice(Run) && OpenSucceeds) {
        if (Run == ExpectedRun::Disable) {
            Requests[RequestCount++] = &WriteDisabled;
        } else if (Run == ExpectedRun::Restore) {
            Requests[RequestCount++] = &WriteEnabled;
        }
        Requests[RequestCount++] = &Read;
    }
    FUZZ_CHECK(Record->RequestCount == RequestCount,
               "command line%s, open %s: %u DeviceIoControl calls, expected %u", CommandLine,
               OpenSucceeds ? "succeeds" : "fails", Record->RequestCount, RequestCount);
    for (unsigned Index = 0; Index < RequestCount; ++Index) {
        CheckRequest(Record, Index, Opened, Requests[Index], CommandLine);
    }

    switch (Run) {
    case ExpectedRun::InvalidOptions:
        ExpectText(Expected, EmpText::InvalidOptions);
        ExpectText(Expected, EmpText::Usage);
        return;
    case ExpectedRun::Usage:
        ExpectText(Expected, EmpText::Usage);
        return;
    case ExpectedRun::Show:
    case ExpectedRun::Disable:
    case ExpectedRun::Restore:
        break;
    }
    if (!OpenSucceeds) {
        ExpectText(Expected, EmpText::OpenFailure);
    } else if (Run == ExpectedRun::Show) {
        ExpectShow(Expected, &Record->Requests[0].Reply);
    } else {
        const uint32_t Target =
            Run == ExpectedRun::Disable ? EXPECTED_SETTING_DISABLED : EXPECTED_SETTING_ENABLED;
        ExpectChange(Expected, Target, &Record->Requests[0].Reply, &Record->Requests[1].Reply);
    }
}

static bool SameSaidTexts(const SaidTexts* Left, const SaidTexts* Right) {
    if (Left->Count != Right->Count) {
        return false;
    }
    for (unsigned Index = 0; Index < Left->Count; ++Index) {
        const SaidText* One = &Left->Texts[Index];
        const SaidText* Other = &Right->Texts[Index];
        if (One->Id != Other->Id || One->ValueCount != Other->ValueCount) {
            return false;
        }
        for (unsigned Value = 0; Value < One->ValueCount; ++Value) {
            if (One->Values[Value] != Other->Values[Value]) {
                return false;
            }
        }
    }
    return true;
}

static void DescribeReplies(char* Buffer, size_t Size) {
    const Win32DoubleRecord* Record = GetWin32DoubleRecord();
    Buffer[0] = '\0';
    size_t Used = 0;
    for (unsigned Index = 0;
         Index < Record->RequestCount && Index < WIN32_DOUBLE_MAX_REQUESTS && Used < Size;
         ++Index) {
        const Win32Reply* Reply = &Record->Requests[Index].Reply;
        Used += static_cast<size_t>(std::snprintf(
            Buffer + Used, Size - Used, " [%08x: %s error %x count %u bytes %02x %02x %02x]",
            Record->Requests[Index].Code, Reply->Succeeds ? "TRUE" : "FALSE", Reply->ErrorCode,
            Reply->ClaimedCount, Reply->Bytes[0], Reply->Bytes[1], Reply->Bytes[2]));
    }
}

// ---- Standard output and standard error ----------------------------------------

struct StdioTraps {
    bool Ready;
    int SavedStdout;
    int SavedStderr;
    int StdoutTrap;
    int StderrTrap;
};

static StdioTraps g_Traps;

static void PrepareStdioTraps(void) {
    if (g_Traps.Ready) {
        return;
    }
    g_Traps.SavedStdout = dup(STDOUT_FILENO);
    g_Traps.SavedStderr = dup(STDERR_FILENO);
    g_Traps.StdoutTrap = memfd_create("empctl-stdout", MFD_CLOEXEC);
    g_Traps.StderrTrap = memfd_create("empctl-stderr", MFD_CLOEXEC);
    FUZZ_CHECK(g_Traps.SavedStdout >= 0 && g_Traps.SavedStderr >= 0 && g_Traps.StdoutTrap >= 0 &&
                   g_Traps.StderrTrap >= 0,
               "cannot set up the standard output and error traps");
    // A sanitizer's report must still be seen when it fires inside the tool.
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(g_Traps.SavedStderr)));
    g_Traps.Ready = true;
}

static void SetStdio(int Stdout, int Stderr) {
    std::fflush(stdout);
    std::fflush(stderr);
    FUZZ_CHECK(dup2(Stdout, STDOUT_FILENO) >= 0 && dup2(Stderr, STDERR_FILENO) >= 0,
               "cannot redirect standard output or error");
}

static void CheckTrapEmpty(int Trap, const char* Name, const char* CommandLine) {
    struct stat Status;
    FUZZ_CHECK(fstat(Trap, &Status) == 0, "cannot stat the %s trap", Name);
    if (Status.st_size == 0) {
        return;
    }
    char Head[256] = {0};
    const ssize_t Got = pread(Trap, Head, sizeof(Head) - 1, 0);
    char Printable[1024] = {0};
    AppendEscaped(Printable, sizeof(Printable), Head, Got > 0 ? static_cast<size_t>(Got) : 0);
    FUZZ_CHECK(Status.st_size == 0,
               "command line%s: the tool wrote %lld bytes to %s past ConsolePrint: \"%s\"",
               CommandLine, static_cast<long long>(Status.st_size), Name, Printable);
}

// ---- The run -----------------------------------------------------------------------

// Several times the longest run the tool can produce (invalid options and
// the usage), so a cut always means the tool said too much.
#define FUZZ_CAPTURE_SIZE 4096u

// The double's reply source: each DeviceIoControl's answer, drawn from the
// fuzzer's bytes when the tool makes the call.
static bool DrawFuzzedReply(void* Context, Win32Reply* Reply) {
    FuzzInput* Input = static_cast<FuzzInput*>(Context);
    Reply->Succeeds = (TakeFuzzByte(Input) & 1u) != 0;
    Reply->ErrorCode = TakeFuzzDword(Input);
    Reply->ClaimedCount = TakeFuzzByte(Input) % (WIN32_DOUBLE_MAX_REPLY_COUNT + 1);
    for (DWORD Index = 0; Index < Reply->ClaimedCount; ++Index) {
        Reply->Bytes[Index] = TakeFuzzByte(Input);
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static uintptr_t RunNumber = 0;
    PrepareStdioTraps();

    FuzzInput Input = {Data, Size};
    FuzzCommandLine CommandLine;
    DrawCommandLine(&Input, &CommandLine);
    const bool OpenSucceeds = (TakeFuzzByte(&Input) & 1u) != 0;
    // A new handle each run, so a handle kept from an earlier run shows.
    ++RunNumber;
    const HANDLE Handle = reinterpret_cast<HANDLE>(0x10000u + (RunNumber % 0x10000u) * 8u);

    Win32DoubleRun Double = {};
    Double.OpenSucceeds = OpenSucceeds;
    Double.OpenError = ERROR_FILE_NOT_FOUND;
    Double.Handle = Handle;
    // Whatever an earlier run left behind, as a real thread's last error may.
    Double.InitialLastError = 0xDEADBEEFu;
    Double.NextReply = DrawFuzzedReply;
    Double.Context = &Input;
    StartWin32Double(&Double);
    static char Captured[FUZZ_CAPTURE_SIZE];
    StartConsoleCapture(Captured, sizeof(Captured));
    SetStdio(g_Traps.StdoutTrap, g_Traps.StderrTrap);
    const int ExitStatus = RunEmpctl(CommandLine.ArgumentCount, CommandLine.Arguments);
    SetStdio(g_Traps.SavedStdout, g_Traps.SavedStderr);

    const char* Described = DescribeCommandLine(&CommandLine);
    CheckTrapEmpty(g_Traps.StdoutTrap, "standard output", Described);
    CheckTrapEmpty(g_Traps.StderrTrap, "standard error", Described);

    const ExpectedRun Run = ExpectRun(&CommandLine);
    SaidTexts Expected;
    CheckCallsAndExpectTexts(Run, OpenSucceeds, Handle, Described, &Expected);

    size_t Length = 0;
    bool Overflowed = false;
    const char* Output = GetCapturedConsole(&Length, &Overflowed);
    FUZZ_CHECK(!Overflowed, "command line%s: the tool said more than the capture holds", Described);
    SaidTexts Said;
    ParseConsoleOutput(Output, Length, Described, &Said);
    if (!SameSaidTexts(&Said, &Expected)) {
        static char SaidDescription[512];
        static char ExpectedDescription[512];
        static char Replies[512];
        DescribeSaidTexts(SaidDescription, sizeof(SaidDescription), &Said);
        DescribeSaidTexts(ExpectedDescription, sizeof(ExpectedDescription), &Expected);
        DescribeReplies(Replies, sizeof(Replies));
        FUZZ_CHECK(SameSaidTexts(&Said, &Expected),
                   "command line%s, open %s, replies%s:\n  said:%s\n  expected:%s", Described,
                   OpenSucceeds ? "succeeds" : "fails", Replies, SaidDescription,
                   ExpectedDescription);
    }

    const int ExpectedStatus = NeedsDevice(Run) && !OpenSucceeds ? -1 : 0;
    FUZZ_CHECK(ExitStatus == ExpectedStatus, "command line%s, open %s: exit status %d, expected %d",
               Described, OpenSucceeds ? "succeeds" : "fails", ExitStatus, ExpectedStatus);
    return 0;
}
