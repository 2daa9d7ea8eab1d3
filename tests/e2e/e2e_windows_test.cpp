// The Windows program as a process against the simulated kernel driver:
// stdout byte for byte (CR LF line ends), nothing on stderr, the exit code
// and the requests that reached the driver. The driver takes its state and
// scripted faults from its service key's Parameters, set here before each
// case, and records every request there.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "e2e_cases.h"
#include "empctl_expected.h"
#include "process_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char DRIVER_PARAMETERS_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\ipmidev\\Parameters";
const int RUN_TIMEOUT_MS = 60000;

std::string WithCrLf(const std::string& Text) {
    std::string Converted;
    for (char Letter : Text) {
        if (Letter == '\n') {
            Converted += '\r';
        }
        Converted += Letter;
    }
    return Converted;
}

std::string FolderOfThisProgram() {
    char Path[MAX_PATH];
    const DWORD Length = GetModuleFileNameA(nullptr, Path, MAX_PATH);
    std::string Folder(Path, Length);
    const size_t Slash = Folder.find_last_of("\\/");
    return Slash == std::string::npos ? "." : Folder.substr(0, Slash);
}

std::string EmpctlPath() {
    return FolderOfThisProgram() + "\\empctl.exe";
}

ProcessResult RunEmpctl(const std::vector<std::string>& Arguments) {
    std::vector<std::string> Command = {EmpctlPath()};
    Command.insert(Command.end(), Arguments.begin(), Arguments.end());
    return RunProcess(Command, RUN_TIMEOUT_MS);
}

HKEY OpenDriverParameters() {
    HKEY Key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, DRIVER_PARAMETERS_KEY, 0, nullptr, 0,
                        KEY_READ | KEY_WRITE, nullptr, &Key, nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return Key;
}

void SetDword(HKEY Key, const char* Name, DWORD Value) {
    ASSERT_EQ(RegSetValueExA(Key, Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Value),
                             sizeof(Value)),
              ERROR_SUCCESS)
        << Name;
}

void DeleteValue(HKEY Key, const char* Name) {
    RegDeleteValueA(Key, Name);
}

// Puts the driver in the state a case describes and empties its request log.
void ScriptDriver(const SimulatedDriver& Driver) {
    HKEY Key = OpenDriverParameters();
    ASSERT_NE(Key, nullptr) << "the driver's Parameters key cannot be opened";
    SetDword(Key, "Setting", Driver.Setting);
    SetDword(Key, "ReplyStatus", Driver.Status);
    SetDword(Key, "ReadBytes", Driver.ReadBytes);
    SetDword(Key, "KeepSetting", Driver.KeepSetting ? 1 : 0);
    if (Driver.FailReads) {
        SetDword(Key, "FailRead", Driver.ReadError);
    } else {
        DeleteValue(Key, "FailRead");
    }
    if (Driver.FailWrites) {
        SetDword(Key, "FailWrite", Driver.WriteError);
    } else {
        DeleteValue(Key, "FailWrite");
    }
    DeleteValue(Key, "RequestLog");
    RegCloseKey(Key);
}

std::vector<uint8_t> QueryBinary(const char* Name) {
    HKEY Key = OpenDriverParameters();
    std::vector<uint8_t> Bytes;
    if (Key == nullptr) {
        return Bytes;
    }
    DWORD Type = 0;
    DWORD Size = 0;
    if (RegQueryValueExA(Key, Name, nullptr, &Type, nullptr, &Size) == ERROR_SUCCESS && Size > 0) {
        Bytes.resize(Size);
        RegQueryValueExA(Key, Name, nullptr, &Type, Bytes.data(), &Size);
        Bytes.resize(Size);
    }
    RegCloseKey(Key);
    return Bytes;
}

uint32_t ReadU32(const std::vector<uint8_t>& Bytes, size_t Offset) {
    return static_cast<uint32_t>(Bytes[Offset]) | (static_cast<uint32_t>(Bytes[Offset + 1]) << 8) |
           (static_cast<uint32_t>(Bytes[Offset + 2]) << 16) |
           (static_cast<uint32_t>(Bytes[Offset + 3]) << 24);
}

// The driver appends one record per request: code, output length and input
// length as little-endian 32-bit values, then the input bytes. Rendered in
// the form the native simulated driver logs.
std::vector<std::string> ReadRequestLog() {
    const std::vector<uint8_t> Log = QueryBinary("RequestLog");
    std::vector<std::string> Lines;
    size_t Offset = 0;
    while (Offset + 12 <= Log.size()) {
        const uint32_t Code = ReadU32(Log, Offset);
        const uint32_t OutputLength = ReadU32(Log, Offset + 4);
        const uint32_t InputLength = ReadU32(Log, Offset + 8);
        Offset += 12;
        if (Offset + InputLength > Log.size()) {
            Lines.push_back("<truncated record>");
            break;
        }
        char Text[16];
        std::snprintf(Text, sizeof(Text), "%08x", static_cast<unsigned>(Code));
        std::string Line = Text;
        for (uint32_t Index = 0; Index < InputLength; ++Index) {
            std::snprintf(Text, sizeof(Text), " %02x", Log[Offset + Index]);
            Line += Text;
        }
        Line += " out=" + std::to_string(OutputLength);
        Lines.push_back(Line);
        Offset += InputLength;
    }
    return Lines;
}

DWORD ReadStoredSetting() {
    HKEY Key = OpenDriverParameters();
    DWORD Value = 0xFFFFFFFFu;
    DWORD Size = sizeof(Value);
    if (Key != nullptr) {
        RegQueryValueExA(Key, "Setting", nullptr, nullptr, reinterpret_cast<BYTE*>(&Value), &Size);
        RegCloseKey(Key);
    }
    return Value;
}

void ExpectRun(const CommandRun& Expected) {
    const ProcessResult Run = RunEmpctl(Expected.Arguments);
    ASSERT_TRUE(Run.Started) << "empctl.exe did not start";
    EXPECT_FALSE(Run.TimedOut) << "empctl.exe did not finish";
    EXPECT_EQ(Run.Stdout, WithCrLf(Expected.Stdout));
    EXPECT_EQ(Run.Stderr, "");
    EXPECT_EQ(Run.ExitStatus, static_cast<DWORD>(Expected.ExitStatus));
}

// What cmd.exe prints for "empctl.exe ARGUMENT & echo !ERRORLEVEL!": the
// program's output, then the ERRORLEVEL it left, read after it ended.
std::string RunUnderCmd(const std::string& Argument) {
    char Folder[MAX_PATH];
    const UINT Length = GetSystemDirectoryA(Folder, MAX_PATH);
    const std::string Cmd = std::string(Folder, Length) + "\\cmd.exe";
    // cmd takes the words after /c as its own command line; none may need
    // quoting, or cmd would strip the quotes differently.
    const std::string Program = EmpctlPath();
    EXPECT_EQ(Program.find_first_of(" \t\"&^"), std::string::npos) << Program;
    const ProcessResult Run = RunProcess(
        {Cmd, "/v:on", "/c", Program, Argument, "&", "echo", "!ERRORLEVEL!"}, RUN_TIMEOUT_MS);
    EXPECT_TRUE(Run.Started) << "cmd.exe did not start";
    EXPECT_FALSE(Run.TimedOut) << "cmd.exe did not finish";
    return Run.Stdout;
}

// Stops or starts the driver's service and waits until it gets there.
bool ControlDriverService(bool Running) {
    SC_HANDLE Manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (Manager == nullptr) {
        return false;
    }
    SC_HANDLE Service =
        OpenServiceA(Manager, "ipmidev", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    bool Reached = false;
    if (Service != nullptr) {
        SERVICE_STATUS Status = {};
        if (Running) {
            StartServiceA(Service, 0, nullptr);
        } else {
            ControlService(Service, SERVICE_CONTROL_STOP, &Status);
        }
        const DWORD Wanted = Running ? SERVICE_RUNNING : SERVICE_STOPPED;
        for (int Attempt = 0; Attempt < 300 && !Reached; ++Attempt) {
            Reached = QueryServiceStatus(Service, &Status) && Status.dwCurrentState == Wanted;
            if (!Reached) {
                Sleep(100);
            }
        }
        CloseServiceHandle(Service);
    }
    CloseServiceHandle(Manager);
    return Reached;
}

class WindowsEndToEnd : public testing::TestWithParam<EndToEndCase> {};

TEST_P(WindowsEndToEnd, RunsAgainstTheSimulatedKernelDriver) {
    const EndToEndCase& Case = GetParam();
    // A test before this one may have left it stopped or still starting.
    ASSERT_TRUE(ControlDriverService(true)) << "the driver is not running";
    ScriptDriver(Case.Driver);
    for (const CommandRun& Run : Case.Runs) {
        SCOPED_TRACE(testing::PrintToString(Run.Arguments));
        ExpectRun(Run);
    }
    EXPECT_EQ(ReadRequestLog(), Case.Wire);
    EXPECT_EQ(ReadStoredSetting(), Case.FinalSetting);
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowsEndToEnd, testing::ValuesIn(GetEndToEndCases()),
                         [](const testing::TestParamInfo<EndToEndCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// With the driver stopped there is no device: only the options that need it
// fail, with exit code -1 (0xFFFFFFFF), which cmd.exe reports as ERRORLEVEL
// -1; with the driver back, the same command line ends with 0.
TEST(WindowsEndToEndNoDriver, OnlyTheDeviceOptionsFail) {
    ScriptDriver(SimulatedDriver{});
    ASSERT_TRUE(ControlDriverService(false)) << "the driver did not stop";
    const std::vector<CommandRun> Runs = {
        {{"/s"}, EXPECTED_NO_DEVICE, -1},
        {{"/d"}, EXPECTED_NO_DEVICE, -1},
        {{"/D"}, EXPECTED_NO_DEVICE, -1},
        {{"/R"}, EXPECTED_NO_DEVICE, -1},
        {{}, EXPECTED_USAGE, 0},
        {{"/?"}, EXPECTED_USAGE, 0},
        {{"/x"}, ExpectedInvalidAndUsage(), 0},
    };
    for (const CommandRun& Run : Runs) {
        SCOPED_TRACE(testing::PrintToString(Run.Arguments));
        ExpectRun(Run);
    }
    EXPECT_EQ(RunUnderCmd("/s"), WithCrLf(std::string(EXPECTED_NO_DEVICE) + "-1\n"));
    EXPECT_EQ(RunUnderCmd("/?"), WithCrLf(std::string(EXPECTED_USAGE) + "0\n"));

    ASSERT_TRUE(ControlDriverService(true)) << "the driver did not start again";
    EXPECT_EQ(RunUnderCmd("/s"), WithCrLf(std::string(EXPECTED_SHOWS_ENABLED) + "0\n"));
    EXPECT_EQ(ReadRequestLog(), std::vector<std::string>{EXPECTED_WIRE_READ});
    EXPECT_EQ(ReadStoredSetting(), 0xB4u);
}

} // namespace
