// The empctl program as a process against the ipmidev-sim daemon: stdout
// byte for byte, nothing on stderr, the exit status and the requests that
// reached the driver.
#include "device_socket.h"
#include "device_wire.h"
#include "e2e_cases.h"
#include "empctl_expected.h"
#include "process_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

const char LAUNCHER_VARIABLE[] = "EMPCTL_E2E_LAUNCHER";
const int NATIVE_NO_DEVICE_STATUS = 255; // -1 as a shell sees it

// The words of EMPCTL_E2E_LAUNCHER (say a memory checker and its options)
// go before every program the suite starts, the driver's included, so that
// its findings land on the stderr and exit status the cases already check.
const std::vector<std::string>& GetLauncher() {
    static const std::vector<std::string> Launcher = [] {
        std::vector<std::string> Words;
        const char* Text = std::getenv(LAUNCHER_VARIABLE);
        std::string Word;
        for (; Text != nullptr && *Text != '\0'; ++Text) {
            if (*Text != ' ') {
                Word.push_back(*Text);
            } else if (!Word.empty()) {
                Words.push_back(Word);
                Word.clear();
            }
        }
        if (!Word.empty()) {
            Words.push_back(Word);
        }
        return Words;
    }();
    return Launcher;
}

// A launcher can make each program start take a second or more.
const int RUN_TIMEOUT_MS = GetLauncher().empty() ? 10000 : 40000;

std::vector<std::string> WithLauncher(const std::vector<std::string>& Command) {
    std::vector<std::string> Launched = GetLauncher();
    Launched.insert(Launched.end(), Command.begin(), Command.end());
    return Launched;
}

int ToNativeStatus(int ExitStatus) {
    return ExitStatus == -1 ? NATIVE_NO_DEVICE_STATUS : ExitStatus;
}

std::string Hex(uint32_t Value) {
    char Text[16];
    std::snprintf(Text, sizeof(Text), "%x", Value);
    return Text;
}

std::vector<std::string> SimArguments(const SimulatedDriver& Driver, const std::string& Folder) {
    std::vector<std::string> Arguments = {EMPCTL_SIM_PATH,
                                          "--setting",
                                          Hex(Driver.Setting),
                                          "--status",
                                          Hex(Driver.Status),
                                          "--read-bytes",
                                          std::to_string(Driver.ReadBytes),
                                          "--log",
                                          Folder + "/wire.log",
                                          "--state",
                                          Folder + "/setting.state"};
    if (Driver.FailReads) {
        Arguments.insert(Arguments.end(), {"--fail-read", Hex(Driver.ReadError)});
    }
    if (Driver.FailWrites) {
        Arguments.insert(Arguments.end(), {"--fail-write", "0x" + Hex(Driver.WriteError)});
    }
    if (Driver.KeepSetting) {
        Arguments.push_back("--keep-setting");
    }
    return WithLauncher(Arguments);
}

std::vector<std::string> EmpctlCommand(const std::vector<std::string>& Arguments) {
    std::vector<std::string> Command = {EMPCTL_PATH};
    Command.insert(Command.end(), Arguments.begin(), Arguments.end());
    return WithLauncher(Command);
}

void ExpectRun(const CommandRun& Run) {
    const ProcessResult Result = RunProcess(EmpctlCommand(Run.Arguments), RUN_TIMEOUT_MS);
    ASSERT_TRUE(Result.Started);
    EXPECT_FALSE(Result.TimedOut) << "empctl did not finish";
    EXPECT_EQ(Result.Stdout, Run.Stdout);
    EXPECT_EQ(Result.Stderr, "");
    EXPECT_EQ(Result.ExitStatus, ToNativeStatus(Run.ExitStatus));
}

class TemporaryFolderTest : public testing::Test {
protected:
    void SetUp() override {
        Folder = MakeTemporaryFolder("empctl-e2e");
        ASSERT_FALSE(Folder.empty());
    }
    void TearDown() override { RemoveFolder(Folder); }

    std::string Folder;
};

class EndToEndTable : public TemporaryFolderTest,
                      public testing::WithParamInterface<EndToEndCase> {};

TEST_P(EndToEndTable, RunsAgainstTheSimulatedDriver) {
    const EndToEndCase& Case = GetParam();
    RunningProcess Sim;
    const DaemonStart Start = StartDaemon(SimArguments(Case.Driver, Folder), RUN_TIMEOUT_MS, &Sim);
    ASSERT_TRUE(Start.Ready) << Start.Failure;

    for (const CommandRun& Run : Case.Runs) {
        SCOPED_TRACE(testing::PrintToString(Run.Arguments));
        ExpectRun(Run);
    }

    const ProcessResult Stopped = StopProcess(&Sim, SIGTERM, RUN_TIMEOUT_MS);
    EXPECT_FALSE(Stopped.TimedOut) << "ipmidev-sim did not stop";
    EXPECT_EQ(Stopped.ExitStatus, 0);
    EXPECT_EQ(Stopped.Stderr, "");
    EXPECT_EQ(ReadLines(Folder + "/wire.log"), Case.Wire);
    EXPECT_EQ(std::strtoul(ReadWholeFile(Folder + "/setting.state").c_str(), nullptr, 16),
              Case.FinalSetting);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEndTable, testing::ValuesIn(GetEndToEndCases()),
                         [](const testing::TestParamInfo<EndToEndCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// With no driver running, the options that need it fail to open and end
// with -1, and the others work as usual.
TEST(EndToEndNoDriver, OnlyTheDeviceOptionsFail) {
    const std::vector<CommandRun> Runs = {
        {{"/s"}, EXPECTED_NO_DEVICE, -1},
        {{"/d"}, EXPECTED_NO_DEVICE, -1},
        {{"/R"}, EXPECTED_NO_DEVICE, -1},
        {{}, EXPECTED_USAGE, 0},
        {{"/?"}, EXPECTED_USAGE, 0},
        {{"/x"}, ExpectedInvalidAndUsage(), 0},
        {{"/s", "/d"}, ExpectedInvalidAndUsage(), 0},
    };
    for (const CommandRun& Run : Runs) {
        SCOPED_TRACE(testing::PrintToString(Run.Arguments));
        ExpectRun(Run);
    }
}

// A driver process that misbehaves at the socket level: the tool must
// report a failed request, never hang and never crash.
enum class FakeDriverFault { CloseBeforeReading, CloseAfterRequest, GarbageReply, OversizedReply };

struct FakeDriver {
    int Listener = -1;
    std::thread Server;
    std::atomic<bool> Stop{false};
};

// The fake driver never waits for a client longer than a run may take.
bool WaitForClient(int Socket, short Events, void* /*Context*/) {
    pollfd Fd = {Socket, Events, 0};
    return poll(&Fd, 1, RUN_TIMEOUT_MS) > 0;
}

bool ReadFully(int Socket, void* Bytes, size_t Length) {
    return ReceiveDeviceBytes(Socket, Bytes, Length, WaitForClient, nullptr);
}

void ServeFaultily(FakeDriver* Driver, FakeDriverFault Fault) {
    while (!Driver->Stop) {
        pollfd Fd = {Driver->Listener, POLLIN, 0};
        if (poll(&Fd, 1, 50) <= 0) {
            continue;
        }
        const int Client = accept(Driver->Listener, nullptr, nullptr);
        if (Client < 0) {
            continue;
        }
        // Answer every request on this connection the same faulty way.
        for (;;) {
            if (Fault == FakeDriverFault::CloseBeforeReading) {
                break;
            }
            uint8_t Header[DEVICE_WIRE_HEADER_SIZE];
            if (!ReadFully(Client, Header, sizeof(Header))) {
                break;
            }
            std::vector<uint8_t> Input(GetWireU32(Header + 8));
            if (!ReadFully(Client, Input.data(), Input.size()) ||
                Fault == FakeDriverFault::CloseAfterRequest) {
                break;
            }
            uint8_t Reply[DEVICE_WIRE_HEADER_SIZE + 64] = {};
            PutWireU32(Reply, Fault == FakeDriverFault::GarbageReply ? 0xDEADBEEFu
                                                                     : DEVICE_WIRE_REPLY_MAGIC);
            PutWireU32(Reply + 4, 1);
            PutWireU32(Reply + 12, 64); // more than the 20 bytes offered
            if (!SendDeviceBytes(Client, Reply, sizeof(Reply))) {
                break;
            }
        }
        close(Client);
    }
}

struct FaultCase {
    const char* Name;
    FakeDriverFault Fault;
    CommandRun Run;
};

void PrintTo(const FaultCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

class EndToEndBrokenDriver : public testing::TestWithParam<FaultCase> {};

TEST_P(EndToEndBrokenDriver, ReportsAFailedRequest) {
    const FaultCase& Case = GetParam();
    FakeDriver Driver;
    ASSERT_EQ(ListenOnDeviceSocket("IPMIDEV", 0, 4, &Driver.Listener), DEVICE_SOCKET_OPENED)
        << "the device socket is taken: is another driver running?";
    Driver.Server = std::thread(ServeFaultily, &Driver, Case.Fault);

    ExpectRun(Case.Run);

    Driver.Stop = true;
    Driver.Server.join();
    close(Driver.Listener);
}

// 0x1f: the connection broke under the request.
const std::string LOST_READ = ExpectedReadbackFailure(0x1F);
const std::string LOST_BOTH = ExpectedWriteFailure(0x1F) + ExpectedReadbackFailure(0x1F);

INSTANTIATE_TEST_SUITE_P(
    Faults, EndToEndBrokenDriver,
    testing::Values(
        FaultCase{
            "ShowClosedBeforeReading", FakeDriverFault::CloseBeforeReading, {{"/s"}, LOST_READ, 0}},
        FaultCase{
            "ShowClosedAfterRequest", FakeDriverFault::CloseAfterRequest, {{"/s"}, LOST_READ, 0}},
        FaultCase{"DisableClosedAfterRequest",
                  FakeDriverFault::CloseAfterRequest,
                  {{"/d"}, LOST_BOTH, 0}},
        FaultCase{"RestoreGarbageReply", FakeDriverFault::GarbageReply, {{"/r"}, LOST_BOTH, 0}},
        FaultCase{"ShowOversizedReply", FakeDriverFault::OversizedReply, {{"/s"}, LOST_READ, 0}}),
    [](const testing::TestParamInfo<FaultCase>& Info) { return std::string(Info.param.Name); });

} // namespace
