// Runs the built daemon and talks to it over the raw wire protocol, as the
// stand-in device calls do.
#include "device_socket.h"
#include "device_wire.h"
#include "empctl_expected.h"
#include "process_runner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#ifndef IPMIDEV_SIM_PATH
#error "IPMIDEV_SIM_PATH must name the daemon under test"
#endif

namespace {

const int TEST_TIMEOUT_MS = 10000;
// A stop signal must end the daemon well within this.
const int TEST_STOP_MS = 3000;
const char TEST_READY_LINE[] = "ipmidev-sim: serving \\\\.\\IPMIDEV";
const uint32_t TEST_READ = EXPECTED_IOCTL_READ;
const uint32_t TEST_WRITE = EXPECTED_IOCTL_WRITE;
const uint32_t TEST_INVALID_PARAMETER = 87;

struct WireReply {
    uint32_t Result;
    uint32_t ErrorCode;
    std::vector<uint8_t> Bytes;
};

// Everything a test starts, so that a failed assertion still cleans up and
// no daemon is left holding the shared socket name.
struct TestWorkspace {
    std::string Folder;
    std::list<RunningProcess> Daemons; // a list, so that pointers into it stay valid
    std::vector<int> Fds;
};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ForgetFd(TestWorkspace* Work, int Fd) {
    for (size_t Index = 0; Index < Work->Fds.size(); ++Index) {
        if (Work->Fds[Index] == Fd) {
            Work->Fds.erase(Work->Fds.begin() + static_cast<std::ptrdiff_t>(Index));
            return;
        }
    }
}

void CloseTracked(TestWorkspace* Work, int Fd) {
    ForgetFd(Work, Fd);
    close(Fd);
}

std::vector<std::string> DaemonCommand(const std::vector<std::string>& Args) {
    std::vector<std::string> Command = {IPMIDEV_SIM_PATH};
    Command.insert(Command.end(), Args.begin(), Args.end());
    return Command;
}

// A daemon that is expected to refuse its start and end by itself.
ProcessResult RunDaemon(const std::vector<std::string>& Args) {
    return RunProcess(DaemonCommand(Args), TEST_TIMEOUT_MS);
}

ProcessResult StopDaemon(RunningProcess* Daemon, int Signal) {
    return StopProcess(Daemon, Signal, TEST_STOP_MS);
}

::testing::AssertionResult ExitedWith(const ProcessResult& Exit, int Code) {
    if (!Exit.Started) {
        return ::testing::AssertionFailure() << "never started";
    }
    if (Exit.TimedOut) {
        return ::testing::AssertionFailure() << "still running at the deadline";
    }
    if (Exit.ExitStatus != Code) {
        return ::testing::AssertionFailure()
               << "exit status " << Exit.ExitStatus << " (over 128: ended by signal), expected "
               << Code << "; stderr: " << Exit.Stderr;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsOneErrorLine(const std::string& Text) {
    const std::string Prefix = "ipmidev-sim: ";
    if (Text.compare(0, Prefix.size(), Prefix) != 0 || Text.size() <= Prefix.size() + 1 ||
        Text.back() != '\n' || Text.find('\n') != Text.size() - 1) {
        return ::testing::AssertionFailure() << "not one 'ipmidev-sim: ' line: [" << Text << "]";
    }
    return ::testing::AssertionSuccess();
}

// Starts the daemon with a clean signal state, as a user's shell would,
// unless IgnoreInterrupt asks for the SIGINT-ignored start that a shell
// gives background jobs, and waits until it serves.
::testing::AssertionResult StartServing(TestWorkspace* Work, const std::vector<std::string>& Args,
                                        RunningProcess** Daemon, bool IgnoreInterrupt = false) {
    Work->Daemons.emplace_back();
    *Daemon = &Work->Daemons.back();
    ProcessOptions Options;
    Options.IgnoreInterrupt = IgnoreInterrupt;
    const DaemonStart Start = StartDaemon(DaemonCommand(Args), TEST_TIMEOUT_MS, *Daemon, Options);
    if (!Start.Ready) {
        return ::testing::AssertionFailure() << Start.Failure;
    }
    if (Start.FirstLine != TEST_READY_LINE) {
        return ::testing::AssertionFailure() << "ready line was [" << Start.FirstLine << "]";
    }
    return ::testing::AssertionSuccess();
}

int ConnectToDevice(TestWorkspace* Work) {
    int Fd = -1;
    if (ConnectDeviceSocket("IPMIDEV", &Fd) != DEVICE_SOCKET_OPENED) {
        return -1;
    }
    // A daemon that stops answering fails the transfer instead of hanging it.
    timeval Timeout = {TEST_TIMEOUT_MS / 1000, 0};
    setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &Timeout, sizeof(Timeout));
    setsockopt(Fd, SOL_SOCKET, SO_SNDTIMEO, &Timeout, sizeof(Timeout));
    Work->Fds.push_back(Fd);
    return Fd;
}

std::vector<uint8_t> RequestBytes(uint32_t Magic, uint32_t Code, uint32_t InputLength,
                                  uint32_t OutputLength, const std::vector<uint8_t>& Input) {
    std::vector<uint8_t> Bytes(DEVICE_WIRE_HEADER_SIZE + Input.size());
    PutWireU32(Bytes.data(), Magic);
    PutWireU32(&Bytes[4], Code);
    PutWireU32(&Bytes[8], InputLength);
    PutWireU32(&Bytes[12], OutputLength);
    std::copy(Input.begin(), Input.end(), Bytes.begin() + DEVICE_WIRE_HEADER_SIZE);
    return Bytes;
}

std::vector<uint8_t> Request(uint32_t Code, const std::vector<uint8_t>& Input,
                             uint32_t OutputLength) {
    return RequestBytes(DEVICE_WIRE_REQUEST_MAGIC, Code, static_cast<uint32_t>(Input.size()),
                        OutputLength, Input);
}

bool SendBytes(int Fd, const std::vector<uint8_t>& Bytes) {
    return SendDeviceBytes(Fd, Bytes.data(), Bytes.size());
}

::testing::AssertionResult ReceiveReply(int Fd, uint32_t OutputLength, WireReply* Reply) {
    uint8_t Header[DEVICE_WIRE_HEADER_SIZE];
    if (!ReceiveDeviceBytes(Fd, Header, sizeof(Header))) {
        return ::testing::AssertionFailure() << "no reply header";
    }
    if (GetWireU32(Header) != DEVICE_WIRE_REPLY_MAGIC) {
        return ::testing::AssertionFailure()
               << "bad reply magic " << std::hex << GetWireU32(Header);
    }
    Reply->Result = GetWireU32(Header + 4);
    Reply->ErrorCode = GetWireU32(Header + 8);
    const uint32_t Count = GetWireU32(Header + 12);
    if (Count > OutputLength) {
        return ::testing::AssertionFailure()
               << Count << " bytes returned for an output of " << OutputLength;
    }
    Reply->Bytes.assign(Count, 0);
    if (Count > 0 && !ReceiveDeviceBytes(Fd, Reply->Bytes.data(), Count)) {
        return ::testing::AssertionFailure() << "reply body cut short";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Exchange(int Fd, uint32_t Code, const std::vector<uint8_t>& Input,
                                    uint32_t OutputLength, WireReply* Reply) {
    if (!SendBytes(Fd, Request(Code, Input, OutputLength))) {
        return ::testing::AssertionFailure() << "cannot send the request";
    }
    return ReceiveReply(Fd, OutputLength, Reply);
}

// True when the daemon closes the connection without replying.
bool DaemonHungUp(int Fd) {
    uint8_t Byte = 0;
    const ssize_t Got = recv(Fd, &Byte, 1, 0);
    return Got == 0 || (Got < 0 && errno == ECONNRESET);
}

::testing::AssertionResult ReadsSetting(TestWorkspace* Work, uint8_t Expected) {
    const int Fd = ConnectToDevice(Work);
    if (Fd < 0) {
        return ::testing::AssertionFailure() << "cannot connect";
    }
    WireReply Reply;
    ::testing::AssertionResult Result = Exchange(Fd, TEST_READ, EXPECTED_READ_REQUEST, 20, &Reply);
    CloseTracked(Work, Fd);
    if (!Result) {
        return Result;
    }
    if (Reply.Result != 1 || Reply.Bytes.size() < 3) {
        return ::testing::AssertionFailure() << "read failed with error " << Reply.ErrorCode;
    }
    if (Reply.Bytes[2] != Expected) {
        return ::testing::AssertionFailure()
               << "setting " << std::hex << int(Reply.Bytes[2]) << ", expected " << int(Expected);
    }
    return ::testing::AssertionSuccess();
}

void WriteWholeFile(const std::string& Path, const std::string& Text) {
    std::ofstream File(Path, std::ios::binary | std::ios::trunc);
    File << Text;
}

bool FileExists(const std::string& Path) {
    struct stat Info;
    return stat(Path.c_str(), &Info) == 0;
}

std::vector<std::string> FolderEntries(const std::string& Folder) {
    std::vector<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder)) {
        Names.push_back(Entry.path().filename().string());
    }
    return Names;
}

class IpmidevSimDaemonTest : public ::testing::Test {
protected:
    void SetUp() override {
        Work.Folder = MakeTemporaryFolder("ipmidev-sim-test");
        ASSERT_FALSE(Work.Folder.empty()) << std::strerror(errno);
    }

    void TearDown() override {
        for (int Fd : Work.Fds) {
            close(Fd);
        }
        for (RunningProcess& Daemon : Work.Daemons) {
            FinishProcess(&Daemon, 0);
        }
        RemoveFolder(Work.Folder);
    }

    std::string PathIn(const std::string& Name) const { return Work.Folder + "/" + Name; }

    TestWorkspace Work;
};

TEST_F(IpmidevSimDaemonTest, ReadyLineIsTheOnlyOutput) {
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {}, &Daemon));
    ASSERT_TRUE(ReadsSetting(&Work, 0xB4));
    const ProcessResult Exit = StopDaemon(Daemon, SIGTERM);
    EXPECT_TRUE(ExitedWith(Exit, 0));
    EXPECT_EQ(Exit.Stdout, "");
    EXPECT_EQ(Exit.Stderr, "");
}

// One connection carries a script of requests; each reply is checked whole.
struct ScenarioStep {
    uint32_t Code;
    std::vector<uint8_t> Input;
    uint32_t OutputLength;
    uint32_t Result;
    uint32_t ErrorCode;
    std::vector<uint8_t> Bytes;
};

struct Scenario {
    const char* Name;
    std::vector<std::string> Args;
    std::vector<ScenarioStep> Steps;
};

ScenarioStep ReadOk(std::vector<uint8_t> Bytes) {
    return {TEST_READ, EXPECTED_READ_REQUEST, 20, 1, 0, std::move(Bytes)};
}

ScenarioStep WriteOk(uint8_t Setting, std::vector<uint8_t> Bytes) {
    return {TEST_WRITE, ExpectedWriteRequest(Setting), 20, 1, 0, std::move(Bytes)};
}

ScenarioStep Fails(uint32_t Code, std::vector<uint8_t> Input, uint32_t OutputLength,
                   uint32_t ErrorCode) {
    return {Code, std::move(Input), OutputLength, 0, ErrorCode, {}};
}

std::vector<Scenario> Scenarios() {
    return {
        {"Defaults",
         {},
         {ReadOk(ExpectedReplyPrefix(0x00, 0xB4, 20)),
          WriteOk(0x34, ExpectedReplyPrefix(0x00, 0x34, 20)),
          ReadOk(ExpectedReplyPrefix(0x00, 0x34, 20))}},
        {"SettingAndStatus",
         {"--setting", "0x07", "--status", "5A"},
         {ReadOk(ExpectedReplyPrefix(0x5A, 0x07, 20)),
          WriteOk(0xE1, ExpectedReplyPrefix(0x5A, 0xE1, 20))}},
        {"SettingZero", {"--setting", "0"}, {ReadOk(ExpectedReplyPrefix(0x00, 0x00, 20))}},
        {"SettingTop",
         {"--setting", "ff", "--status", "0XFF"},
         {ReadOk(ExpectedReplyPrefix(0xFF, 0xFF, 20))}},
        {"LastFlagWins",
         {"--setting", "11", "--setting", "22"},
         {ReadOk(ExpectedReplyPrefix(0, 0x22, 20))}},
        // getopt_long's own forms: a value joined with '=', an unambiguous
        // prefix of a name, and "--" ending the options.
        {"JoinedValue",
         {"--setting=b4", "--status=5a"},
         {ReadOk(ExpectedReplyPrefix(0x5A, 0xB4, 20))}},
        {"UnambiguousPrefixes",
         {"--sett", "21", "--read-b", "4", "--keep"},
         {ReadOk(ExpectedReplyPrefix(0x00, 0x21, 4)),
          WriteOk(0x34, ExpectedReplyPrefix(0x00, 0x21, 20))}},
        {"EndOfOptions", {"--setting", "07", "--"}, {ReadOk(ExpectedReplyPrefix(0x00, 0x07, 20))}},
        {"ReadBytesShortensReadsOnly",
         {"--read-bytes", "5"},
         {ReadOk(ExpectedReplyPrefix(0x00, 0xB4, 5)),
          WriteOk(0x34, ExpectedReplyPrefix(0x00, 0x34, 20))}},
        {"ReadBytesZero", {"--read-bytes", "0"}, {ReadOk({})}},
        {"ReadBytesTwenty", {"--read-bytes", "20"}, {ReadOk(ExpectedReplyPrefix(0x00, 0xB4, 20))}},
        {"FailRead",
         {"--fail-read", "0x1f"},
         {Fails(TEST_READ, EXPECTED_READ_REQUEST, 20, 0x1F),
          WriteOk(0x34, ExpectedReplyPrefix(0x00, 0x34, 20))}},
        {"FailReadTopCode",
         {"--fail-read", "ffffffff"},
         {Fails(TEST_READ, EXPECTED_READ_REQUEST, 20, 0xFFFFFFFF)}},
        {"FailReadCodeZero",
         {"--fail-read", "0"},
         {Fails(TEST_READ, EXPECTED_READ_REQUEST, 20, 0)}},
        {"FailWriteStoresNothing",
         {"--fail-write", "5"},
         {Fails(TEST_WRITE, ExpectedWriteRequest(0x34), 20, 5),
          ReadOk(ExpectedReplyPrefix(0x00, 0xB4, 20))}},
        {"FailWriteCodeZero",
         {"--fail-write", "0x0"},
         {Fails(TEST_WRITE, ExpectedWriteRequest(0x34), 20, 0),
          ReadOk(ExpectedReplyPrefix(0x00, 0xB4, 20))}},
        {"KeepSetting",
         {"--keep-setting"},
         {WriteOk(0x34, ExpectedReplyPrefix(0x00, 0xB4, 20)),
          ReadOk(ExpectedReplyPrefix(0x00, 0xB4, 20))}},
        {"MalformedRequests",
         {},
         {Fails(0x12345678, EXPECTED_READ_REQUEST, 20, TEST_INVALID_PARAMETER),
          Fails(TEST_READ, {}, 20, TEST_INVALID_PARAMETER),
          Fails(TEST_READ, {0x01, 0x01, 0x00}, 20, TEST_INVALID_PARAMETER),
          Fails(TEST_WRITE, {0x01, 0x01, 0x01, 0x34}, 20, TEST_INVALID_PARAMETER),
          Fails(TEST_WRITE, ExpectedWriteRequest(0x34), 2, TEST_INVALID_PARAMETER),
          Fails(TEST_READ, EXPECTED_READ_REQUEST, 0, TEST_INVALID_PARAMETER),
          ReadOk(ExpectedReplyPrefix(0x00, 0xB4, 20))}},
        // The daemon keeps one input buffer for the connection: a short
        // request after a full one finds the full one's last byte behind it.
        {"ShortRequestsAfterFullOnes",
         {},
         {ReadOk(ExpectedReplyPrefix(0x00, 0xB4, 20)),
          Fails(TEST_READ, {0x01, 0x01}, 20, TEST_INVALID_PARAMETER),
          WriteOk(0x34, ExpectedReplyPrefix(0x00, 0x34, 20)),
          Fails(TEST_WRITE, {0x01, 0x01, 0x00}, 20, TEST_INVALID_PARAMETER),
          ReadOk(ExpectedReplyPrefix(0x00, 0x34, 20))}},
        {"OutputLengths",
         {},
         {{TEST_READ, EXPECTED_READ_REQUEST, 3, 1, 0, ExpectedReplyPrefix(0x00, 0xB4, 3)},
          {TEST_READ, EXPECTED_READ_REQUEST, DEVICE_WIRE_MAX_OUTPUT, 1, 0,
           ExpectedReplyPrefix(0x00, 0xB4, 20)},
          {TEST_WRITE, ExpectedWriteRequest(0x01), 7, 1, 0, ExpectedReplyPrefix(0x00, 0x01, 7)}}},
    };
}

class IpmidevSimScenarioTest : public IpmidevSimDaemonTest,
                               public ::testing::WithParamInterface<Scenario> {};

TEST_P(IpmidevSimScenarioTest, AnswersEachStep) {
    const Scenario& Case = GetParam();
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, Case.Args, &Daemon));
    const int Fd = ConnectToDevice(&Work);
    ASSERT_GE(Fd, 0);
    for (size_t Index = 0; Index < Case.Steps.size(); ++Index) {
        SCOPED_TRACE("step " + std::to_string(Index));
        const ScenarioStep& Step = Case.Steps[Index];
        WireReply Reply;
        ASSERT_TRUE(Exchange(Fd, Step.Code, Step.Input, Step.OutputLength, &Reply));
        EXPECT_EQ(Reply.Result, Step.Result);
        EXPECT_EQ(Reply.ErrorCode, Step.ErrorCode);
        EXPECT_EQ(Reply.Bytes, Step.Bytes);
    }
    CloseTracked(&Work, Fd);
    EXPECT_TRUE(ExitedWith(StopDaemon(Daemon, SIGTERM), 0));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, IpmidevSimScenarioTest, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& Info) {
                             return std::string(Info.param.Name);
                         });

TEST_F(IpmidevSimDaemonTest, LogRecordsEachRequestAsItArrives) {
    const std::string Log = PathIn("requests.log");
    WriteWholeFile(Log, "earlier run\n");
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {"--log", Log}, &Daemon));
    const int Fd = ConnectToDevice(&Work);
    ASSERT_GE(Fd, 0);

    struct LoggedRequest {
        uint32_t Code;
        std::vector<uint8_t> Input;
        uint32_t OutputLength;
        const char* Line;
    };
    const std::vector<LoggedRequest> Requests = {
        {TEST_WRITE, ExpectedWriteRequest(0x34), 20, EXPECTED_WIRE_WRITE_DISABLED},
        {TEST_READ, EXPECTED_READ_REQUEST, 20, EXPECTED_WIRE_READ},
        {0x00000000, {}, 0, "00000000 out=0"},
        {0xFFFFFFFF, {0xAB, 0x00, 0xFF, 0x10, 0x0A}, 4096, "ffffffff ab 00 ff 10 0a out=4096"},
        {TEST_READ, EXPECTED_READ_REQUEST, 2, "810c4c08 01 01 01 out=2"},
    };
    std::string Expected = "earlier run\n";
    for (const LoggedRequest& Logged : Requests) {
        SCOPED_TRACE(Logged.Line);
        WireReply Reply;
        ASSERT_TRUE(Exchange(Fd, Logged.Code, Logged.Input, Logged.OutputLength, &Reply));
        Expected += std::string(Logged.Line) + "\n";
        // The line must be there once the reply is, with the daemon still up.
        EXPECT_EQ(ReadWholeFile(Log), Expected);
    }
    CloseTracked(&Work, Fd);
    EXPECT_TRUE(ExitedWith(StopDaemon(Daemon, SIGTERM), 0));
    EXPECT_EQ(ReadWholeFile(Log), Expected);
}

TEST_F(IpmidevSimDaemonTest, StateFileIsCreatedFromStartingSetting) {
    const std::string State = PathIn("setting");
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {"--setting", "7", "--state", State}, &Daemon));
    EXPECT_EQ(ReadWholeFile(State), "07\n");
    EXPECT_TRUE(ReadsSetting(&Work, 0x07));
}

class IpmidevSimStateLoadTest : public IpmidevSimDaemonTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(IpmidevSimStateLoadTest, SavedSettingWinsOverFlag) {
    const std::string State = PathIn("setting");
    WriteWholeFile(State, GetParam());
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {"--setting", "11", "--state", State}, &Daemon));
    EXPECT_TRUE(ReadsSetting(&Work, 0x3C));
}

INSTANTIATE_TEST_SUITE_P(Contents, IpmidevSimStateLoadTest,
                         ::testing::Values("3c\n", "0x3c\n", "3C\n", "0X3c\n", "3c", "3c\r\n"));

TEST_F(IpmidevSimDaemonTest, StateFileHoldsEverySuccessfulWrite) {
    const std::string State = PathIn("setting");
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {"--state", State}, &Daemon));
    int Fd = ConnectToDevice(&Work);
    ASSERT_GE(Fd, 0);
    WireReply Reply;
    ASSERT_TRUE(Exchange(Fd, TEST_WRITE, ExpectedWriteRequest(0x5A), 20, &Reply));
    ASSERT_EQ(Reply.Result, 1u);
    // Saved before the reply went out, and the temp file is gone.
    EXPECT_EQ(ReadWholeFile(State), "5a\n");
    EXPECT_EQ(FolderEntries(Work.Folder), std::vector<std::string>{"setting"});

    // Refused writes leave the file alone.
    ASSERT_TRUE(Exchange(Fd, TEST_WRITE, {0x01, 0x01, 0x01, 0x77}, 20, &Reply));
    EXPECT_EQ(Reply.Result, 0u);
    ASSERT_TRUE(Exchange(Fd, TEST_WRITE, ExpectedWriteRequest(0x77), 2, &Reply));
    EXPECT_EQ(Reply.Result, 0u);
    EXPECT_EQ(ReadWholeFile(State), "5a\n");

    // A kill straight after the reply must not lose the write.
    EXPECT_EQ(StopDaemon(Daemon, SIGKILL).ExitStatus, 128 + SIGKILL);
    CloseTracked(&Work, Fd);
    ASSERT_TRUE(StartServing(&Work, {"--setting", "11", "--state", State}, &Daemon));
    EXPECT_TRUE(ReadsSetting(&Work, 0x5A));
    EXPECT_TRUE(ExitedWith(StopDaemon(Daemon, SIGTERM), 0));
    EXPECT_EQ(ReadWholeFile(State), "5a\n");
}

TEST_F(IpmidevSimDaemonTest, StateFileUntouchedByWritesThatStoreNothing) {
    const std::string State = PathIn("setting");
    WriteWholeFile(State, "0x5a\n");
    const std::vector<std::vector<std::string>> Runs = {
        {"--keep-setting", "--state", State},
        {"--fail-write", "1f", "--state", State},
    };
    for (const std::vector<std::string>& Args : Runs) {
        SCOPED_TRACE(Args[0]);
        RunningProcess* Daemon = nullptr;
        ASSERT_TRUE(StartServing(&Work, Args, &Daemon));
        const int Fd = ConnectToDevice(&Work);
        ASSERT_GE(Fd, 0);
        WireReply Reply;
        ASSERT_TRUE(Exchange(Fd, TEST_WRITE, ExpectedWriteRequest(0x77), 20, &Reply));
        CloseTracked(&Work, Fd);
        EXPECT_TRUE(ReadsSetting(&Work, 0x5A));
        EXPECT_TRUE(ExitedWith(StopDaemon(Daemon, SIGTERM), 0));
        EXPECT_EQ(ReadWholeFile(State), "0x5a\n");
    }
}

TEST_F(IpmidevSimDaemonTest, WriteThatCannotBeSavedFailsAndIsUndone) {
    const std::string Sub = PathIn("sub");
    ASSERT_EQ(mkdir(Sub.c_str(), 0755), 0);
    const std::string State = Sub + "/setting";
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {"--state", State}, &Daemon));
    std::filesystem::remove_all(Sub);

    const int Fd = ConnectToDevice(&Work);
    ASSERT_GE(Fd, 0);
    WireReply Reply;
    ASSERT_TRUE(Exchange(Fd, TEST_WRITE, ExpectedWriteRequest(0x34), 20, &Reply));
    EXPECT_EQ(Reply.Result, 0u);
    EXPECT_EQ(Reply.ErrorCode, 1117u);
    EXPECT_TRUE(Reply.Bytes.empty());
    CloseTracked(&Work, Fd);
    EXPECT_TRUE(ReadsSetting(&Work, 0xB4));
    const ProcessResult Exit = StopDaemon(Daemon, SIGTERM);
    EXPECT_TRUE(ExitedWith(Exit, 0));
    EXPECT_TRUE(IsOneErrorLine(Exit.Stderr));
}

struct CorruptState {
    const char* Name;
    std::string Content;
};

class IpmidevSimCorruptStateTest : public IpmidevSimDaemonTest,
                                   public ::testing::WithParamInterface<CorruptState> {};

TEST_P(IpmidevSimCorruptStateTest, RefusesToStart) {
    const std::string State = PathIn("setting");
    WriteWholeFile(State, GetParam().Content);
    const ProcessResult Exit = RunDaemon({"--state", State});
    EXPECT_TRUE(ExitedWith(Exit, 1));
    EXPECT_EQ(Exit.Stdout, "");
    EXPECT_TRUE(IsOneErrorLine(Exit.Stderr));
    EXPECT_EQ(ReadWholeFile(State), GetParam().Content);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, IpmidevSimCorruptStateTest,
    ::testing::Values(CorruptState{"Empty", ""}, CorruptState{"BlankLine", "\n"},
                      CorruptState{"NotHex", "zz\n"}, CorruptState{"TooBig", "100\n"},
                      CorruptState{"PrefixOnly", "0x\n"}, CorruptState{"Negative", "-1\n"},
                      CorruptState{"TwoValues", "b4 b4\n"}, CorruptState{"LeadingBlank", " b4\n"},
                      CorruptState{"EmbeddedNul", std::string("b4\0", 3)},
                      CorruptState{"Oversized", std::string(40, '0') + "b4\n"},
                      CorruptState{"Binary", std::string("\xb4", 1)}),
    [](const ::testing::TestParamInfo<CorruptState>& Info) {
        return std::string(Info.param.Name);
    });

TEST_F(IpmidevSimDaemonTest, StateFileThatIsAFolderRefusesToStart) {
    const std::string State = PathIn("setting");
    ASSERT_EQ(mkdir(State.c_str(), 0755), 0);
    const ProcessResult Exit = RunDaemon({"--state", State});
    EXPECT_TRUE(ExitedWith(Exit, 1));
    EXPECT_EQ(Exit.Stdout, "");
    EXPECT_TRUE(IsOneErrorLine(Exit.Stderr));
}

// Clients that break off or speak something else; each is followed by a
// good client, which must still be served.
struct BadClient {
    const char* Name;
    std::vector<uint8_t> Bytes;
    bool DaemonHangsUp; // the daemon, not the client, ends the connection
    const char* Logged; // what the bad client leaves in the log; null: varies
};

std::vector<uint8_t> Concatenated(const std::vector<uint8_t>& Bytes, int Times) {
    std::vector<uint8_t> All;
    for (int Index = 0; Index < Times; ++Index) {
        All.insert(All.end(), Bytes.begin(), Bytes.end());
    }
    return All;
}

std::vector<BadClient> BadClients() {
    const std::vector<uint8_t> Read = Request(TEST_READ, EXPECTED_READ_REQUEST, 20);
    return {
        {"BadMagic", RequestBytes(0x12345678, TEST_READ, 3, 20, EXPECTED_READ_REQUEST), true, ""},
        {"ReplyMagic",
         RequestBytes(DEVICE_WIRE_REPLY_MAGIC, TEST_READ, 3, 20, EXPECTED_READ_REQUEST), true, ""},
        {"InputTooLong", RequestBytes(DEVICE_WIRE_REQUEST_MAGIC, TEST_READ, 4097, 20, {}), true,
         ""},
        {"OutputTooLong",
         RequestBytes(DEVICE_WIRE_REQUEST_MAGIC, TEST_READ, 3, 4097, EXPECTED_READ_REQUEST), true,
         ""},
        {"HugeLengths",
         RequestBytes(DEVICE_WIRE_REQUEST_MAGIC, TEST_READ, 0xFFFFFFFF, 0xFFFFFFFF, {}), true, ""},
        {"Text",
         {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '1', '\r', '\n'},
         true,
         ""},
        {"NothingSent", {}, false, ""},
        {"HalfHeader", std::vector<uint8_t>(Read.begin(), Read.begin() + 8), false, ""},
        {"HeaderOnly", std::vector<uint8_t>(Read.begin(), Read.begin() + 16), false, ""},
        {"InputCutShort", std::vector<uint8_t>(Read.begin(), Read.end() - 1), false, ""},
        // Gone before the replies: sending them must not raise SIGPIPE.
        {"LeavesBeforeReplies", Concatenated(Read, 64), false, nullptr},
    };
}

class IpmidevSimBadClientTest : public IpmidevSimDaemonTest,
                                public ::testing::WithParamInterface<BadClient> {};

TEST_P(IpmidevSimBadClientTest, NextClientIsServed) {
    const BadClient& Case = GetParam();
    const std::string Log = PathIn("requests.log");
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {"--log", Log}, &Daemon));
    const int Bad = ConnectToDevice(&Work);
    ASSERT_GE(Bad, 0);
    ASSERT_TRUE(SendBytes(Bad, Case.Bytes));
    if (Case.DaemonHangsUp) {
        EXPECT_TRUE(DaemonHungUp(Bad));
    }
    CloseTracked(&Work, Bad);

    EXPECT_TRUE(ReadsSetting(&Work, 0xB4));
    EXPECT_TRUE(ExitedWith(StopDaemon(Daemon, SIGTERM), 0));
    // Only whole requests are logged.
    const std::string Logged = ReadWholeFile(Log);
    const std::string GoodLine = std::string(EXPECTED_WIRE_READ) + "\n";
    if (Case.Logged != nullptr) {
        EXPECT_EQ(Logged, Case.Logged + GoodLine);
    } else {
        ASSERT_GE(Logged.size(), GoodLine.size());
        EXPECT_EQ(Logged.substr(Logged.size() - GoodLine.size()), GoodLine);
    }
}

INSTANTIATE_TEST_SUITE_P(Clients, IpmidevSimBadClientTest, ::testing::ValuesIn(BadClients()),
                         [](const ::testing::TestParamInfo<BadClient>& Info) {
                             return std::string(Info.param.Name);
                         });

TEST_F(IpmidevSimDaemonTest, WaitingClientIsServedWhenTheFirstLeaves) {
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {}, &Daemon));
    const int First = ConnectToDevice(&Work);
    ASSERT_GE(First, 0);
    WireReply Reply;
    ASSERT_TRUE(Exchange(First, TEST_WRITE, ExpectedWriteRequest(0x61), 20, &Reply));
    ASSERT_EQ(Reply.Result, 1u);
    const int Second = ConnectToDevice(&Work);
    ASSERT_GE(Second, 0);
    ASSERT_TRUE(SendBytes(Second, Request(TEST_READ, EXPECTED_READ_REQUEST, 20)));
    CloseTracked(&Work, First);
    ASSERT_TRUE(ReceiveReply(Second, 20, &Reply));
    EXPECT_EQ(Reply.Result, 1u);
    EXPECT_EQ(Reply.Bytes, ExpectedReplyPrefix(0x00, 0x61, 20));
}

// How the client side stands when the stop signal comes.
enum ClientAtStop { TEST_NO_CLIENT, TEST_IDLE_CLIENT, TEST_CLIENT_MID_REQUEST };

struct StopCase {
    const char* Name;
    int Signal;
    ClientAtStop Client;
    bool StartedWithSigintIgnored;
};

class IpmidevSimStopTest : public IpmidevSimDaemonTest,
                           public ::testing::WithParamInterface<StopCase> {};

TEST_P(IpmidevSimStopTest, ExitsZeroPromptly) {
    const StopCase& Case = GetParam();
    RunningProcess* Daemon = nullptr;
    ASSERT_TRUE(StartServing(&Work, {}, &Daemon, Case.StartedWithSigintIgnored));
    int Fd = -1;
    if (Case.Client != TEST_NO_CLIENT) {
        Fd = ConnectToDevice(&Work);
        ASSERT_GE(Fd, 0);
        // A served request proves the daemon is inside the connection.
        WireReply Reply;
        ASSERT_TRUE(Exchange(Fd, TEST_READ, EXPECTED_READ_REQUEST, 20, &Reply));
        if (Case.Client == TEST_CLIENT_MID_REQUEST) {
            const std::vector<uint8_t> Read = Request(TEST_READ, EXPECTED_READ_REQUEST, 20);
            ASSERT_TRUE(SendBytes(Fd, std::vector<uint8_t>(Read.begin(), Read.begin() + 10)));
        }
    }
    const int64_t Start = NowMs();
    const ProcessResult Exit = StopDaemon(Daemon, Case.Signal);
    EXPECT_TRUE(ExitedWith(Exit, 0));
    EXPECT_LT(NowMs() - Start, TEST_STOP_MS);
    EXPECT_EQ(Exit.Stderr, "");
    if (Fd >= 0) {
        EXPECT_TRUE(DaemonHungUp(Fd));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, IpmidevSimStopTest,
    ::testing::Values(StopCase{"TermNoClient", SIGTERM, TEST_NO_CLIENT, false},
                      StopCase{"TermIdleClient", SIGTERM, TEST_IDLE_CLIENT, false},
                      StopCase{"TermMidRequest", SIGTERM, TEST_CLIENT_MID_REQUEST, false},
                      StopCase{"IntNoClient", SIGINT, TEST_NO_CLIENT, false},
                      StopCase{"IntIdleClient", SIGINT, TEST_IDLE_CLIENT, false},
                      StopCase{"IntAfterShellIgnoredIt", SIGINT, TEST_IDLE_CLIENT, true}),
    [](const ::testing::TestParamInfo<StopCase>& Info) { return std::string(Info.param.Name); });

struct BadFlags {
    const char* Name;
    std::vector<std::string> Args;
};

class IpmidevSimBadFlagsTest : public IpmidevSimDaemonTest,
                               public ::testing::WithParamInterface<BadFlags> {};

// Every bad command line is refused before anything is created or bound.
TEST_P(IpmidevSimBadFlagsTest, ExitsTwoWithOneLine) {
    const std::string State = PathIn("state");
    const std::string Log = PathIn("log");
    std::vector<std::string> Args = {"--state", State, "--log", Log};
    Args.insert(Args.end(), GetParam().Args.begin(), GetParam().Args.end());
    const ProcessResult Exit = RunDaemon(Args);
    EXPECT_TRUE(ExitedWith(Exit, 2));
    EXPECT_EQ(Exit.Stdout, "");
    EXPECT_TRUE(IsOneErrorLine(Exit.Stderr));
    EXPECT_FALSE(FileExists(State));
    EXPECT_FALSE(FileExists(Log));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, IpmidevSimBadFlagsTest,
    ::testing::Values(
        BadFlags{"UnknownFlag", {"--verbose"}}, BadFlags{"SingleDash", {"-x"}},
        BadFlags{"JoinedEmptyValue", {"--setting="}}, BadFlags{"AmbiguousPrefix", {"--s", "1"}},
        BadFlags{"AmbiguousFailPrefix", {"--fail", "1"}},
        BadFlags{"ValueForKeepSetting", {"--keep-setting=yes"}},
        BadFlags{"ValueForHelp", {"--help=yes"}}, BadFlags{"Positional", {"extra"}},
        BadFlags{"PositionalAfterEndOfOptions", {"--", "--setting"}},
        BadFlags{"PositionalAfterFlag", {"--keep-setting", "yes"}},
        BadFlags{"SettingMissing", {"--setting"}},
        BadFlags{"SettingFollowedByFlag", {"--setting", "--keep-setting"}},
        BadFlags{"SettingEmpty", {"--setting", ""}},
        BadFlags{"SettingTooBig", {"--setting", "100"}},
        BadFlags{"SettingNotHex", {"--setting", "g1"}},
        BadFlags{"SettingPrefixOnly", {"--setting", "0x"}},
        BadFlags{"SettingNegative", {"--setting", "-1"}},
        BadFlags{"SettingBlank", {"--setting", " b4"}},
        BadFlags{"SettingTrailingBlank", {"--setting", "b4 "}},
        BadFlags{"SettingPlus", {"--setting", "+b4"}},
        BadFlags{"SettingSignAfterPrefix", {"--setting", "0x-1"}},
        BadFlags{"SettingPrefixTwice", {"--setting", "0x0x1"}},
        BadFlags{"StatusTooBig", {"--status", "0x1ff"}}, BadFlags{"StatusMissing", {"--status"}},
        BadFlags{"ReadBytesTooBig", {"--read-bytes", "21"}},
        BadFlags{"ReadBytesHex", {"--read-bytes", "0x5"}},
        BadFlags{"ReadBytesNegative", {"--read-bytes", "-1"}},
        BadFlags{"ReadBytesMinusZero", {"--read-bytes", "-0"}},
        BadFlags{"ReadBytesPlus", {"--read-bytes", "+5"}},
        BadFlags{"ReadBytesBlank", {"--read-bytes", " 5"}},
        BadFlags{"ReadBytesEmpty", {"--read-bytes", ""}},
        BadFlags{"ReadBytesHuge", {"--read-bytes", "99999999999999999999"}},
        BadFlags{"FailReadTooBig", {"--fail-read", "100000000"}},
        BadFlags{"FailReadNotHex", {"--fail-read", "ERROR"}},
        BadFlags{"FailReadMissing", {"--fail-read"}},
        BadFlags{"FailReadMinusZero", {"--fail-read", "-0"}},
        BadFlags{"FailWriteTooBig", {"--fail-write", "0x1ffffffff"}},
        BadFlags{"FailWriteMissing", {"--fail-write"}}, BadFlags{"LogMissing", {"--log"}},
        BadFlags{"LogEmpty", {"--log", ""}},
        BadFlags{"LogFollowedByFlag", {"--log", "--keep-setting"}},
        BadFlags{"StateMissing", {"--state"}}, BadFlags{"NewlineInValue", {"--setting", "b\n4"}}),
    [](const ::testing::TestParamInfo<BadFlags>& Info) { return std::string(Info.param.Name); });

TEST_F(IpmidevSimDaemonTest, SecondDaemonIsRefusedWhileTheFirstServes) {
    RunningProcess* First = nullptr;
    ASSERT_TRUE(StartServing(&Work, {"--setting", "21"}, &First));
    const std::string State = PathIn("state");
    const ProcessResult Exit = RunDaemon({"--state", State});
    EXPECT_TRUE(ExitedWith(Exit, 1));
    EXPECT_EQ(Exit.Stdout, "");
    EXPECT_TRUE(IsOneErrorLine(Exit.Stderr));
    // The loser must not have touched the state the winner owns.
    EXPECT_FALSE(FileExists(State));
    EXPECT_TRUE(ReadsSetting(&Work, 0x21));
}

} // namespace
