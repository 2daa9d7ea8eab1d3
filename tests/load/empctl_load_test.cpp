// A thousand alternating /d and /r runs against ipmidev-sim keeping its
// setting in a state file, the daemon killed with SIGKILL at random points
// while the tool talks to it and then started again on the same file. The
// tool must never hang and must say only its own texts; the state file must
// never be torn, lost or wrong.
#include "empctl_expected.h"
#include "process_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const int LOAD_RUNS = 1000;
const int LOAD_KILL_ONE_IN = 8;
// Kills fall anywhere from the tool's start to its usual end: within the
// mean length of the runs so far, and at least this.
const double LOAD_KILL_WINDOW_MIN_US = 2000;
// Far beyond a normal run; a tool stuck on a dead driver ends here.
const int LOAD_RUN_TIMEOUT_MS = 10000;
const int LOAD_NO_DEVICE_STATUS = 255; // -1 as a shell sees it
const int LOAD_KILLED_STATUS = 128 + SIGKILL;
const char LOAD_SEED_VARIABLE[] = "EMPCTL_LOAD_SEED";
const char LOAD_READY_LINE[] = "ipmidev-sim: serving \\\\.\\IPMIDEV";
const char LOAD_STATE_NAME[] = "setting.state";

// 0x1f: the connection broke under the request.
const std::string WRITE_LOST = ExpectedWriteFailure(0x1F);
const std::string READ_LOST = ExpectedReadbackFailure(0x1F);

struct LoadTarget {
    const char* Option;
    uint8_t Setting;
    const char* StateText;
    const char* Confirmation;
    const char* Shown; // what /s prints for this setting
};

const LoadTarget LOAD_TARGETS[] = {
    {"/d", EXPECTED_SETTING_DISABLED, "34\n", EXPECTED_DISABLED_CONFIRMATION,
     EXPECTED_SHOWS_DISABLED},
    {"/r", EXPECTED_SETTING_ENABLED, "b4\n", EXPECTED_ENABLED_CONFIRMATION, EXPECTED_SHOWS_ENABLED},
};

const LoadTarget* FindTargetByStateText(const std::string& Text) {
    for (const LoadTarget& Target : LOAD_TARGETS) {
        if (Text == Target.StateText) {
            return &Target;
        }
    }
    return nullptr;
}

// How far a run whose driver was killed got, as its output tells.
enum class KilledRunOutcome { NotConnected, Confirmed, WriteAcknowledged, WriteUnanswered };

const char* DescribeOutcome(KilledRunOutcome Outcome) {
    switch (Outcome) {
    case KilledRunOutcome::NotConnected:
        return "not connected";
    case KilledRunOutcome::Confirmed:
        return "confirmed";
    case KilledRunOutcome::WriteAcknowledged:
        return "write acknowledged, read-back lost";
    case KilledRunOutcome::WriteUnanswered:
        return "write unanswered";
    }
    return "?";
}

// The only outputs a run may end with when its driver dies at any moment.
// A request cut off fails with 0x1f, and the tool then never reuses the
// connection, so after a lost write the read-back is lost too; a driver
// that answers the read-back at all holds the byte just written, so a
// mismatch is never legal here.
bool ClassifyKilledRun(const ProcessResult& Result, const LoadTarget& Target,
                       KilledRunOutcome* Outcome) {
    struct LegalEnding {
        std::string Stdout;
        int64_t ExitStatus;
        KilledRunOutcome Outcome;
    };
    const LegalEnding Endings[] = {
        {EXPECTED_NO_DEVICE, LOAD_NO_DEVICE_STATUS, KilledRunOutcome::NotConnected},
        {std::string(EXPECTED_WROTE) + Target.Confirmation, 0, KilledRunOutcome::Confirmed},
        {EXPECTED_WROTE + READ_LOST, 0, KilledRunOutcome::WriteAcknowledged},
        {WRITE_LOST + READ_LOST, 0, KilledRunOutcome::WriteUnanswered},
    };
    const auto* Found =
        std::find_if(std::begin(Endings), std::end(Endings), [&Result](const LegalEnding& Ending) {
            return Result.Stdout == Ending.Stdout && Result.ExitStatus == Ending.ExitStatus;
        });
    if (Found == std::end(Endings)) {
        return false;
    }
    *Outcome = Found->Outcome;
    return true;
}

uint64_t ChooseSeed() {
    const char* Text = std::getenv(LOAD_SEED_VARIABLE);
    if (Text != nullptr && *Text != '\0') {
        return std::strtoull(Text, nullptr, 0);
    }
    std::random_device Device;
    return (static_cast<uint64_t>(Device()) << 32) ^ Device() ^
           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

// Files in Folder other than the state file.
std::vector<std::string> StrayFiles(const std::string& Folder) {
    std::vector<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder)) {
        const std::string Name = Entry.path().filename().string();
        if (Name != LOAD_STATE_NAME) {
            Names.push_back(Name);
        }
    }
    return Names;
}

class EmpctlLoadTest : public testing::Test {
protected:
    void SetUp() override {
        Folder = MakeTemporaryFolder("empctl-load");
        ASSERT_FALSE(Folder.empty());
        StatePath = Folder + "/" + LOAD_STATE_NAME;
    }

    void TearDown() override {
        StopProcess(&Sim, SIGKILL, LOAD_RUN_TIMEOUT_MS);
        RemoveFolder(Folder);
    }

    void StartSim() {
        const DaemonStart Start =
            StartDaemon({EMPCTL_SIM_PATH, "--state", StatePath}, LOAD_RUN_TIMEOUT_MS, &Sim);
        ASSERT_TRUE(Start.Ready) << Start.Failure;
        ASSERT_EQ(Start.FirstLine, LOAD_READY_LINE);
    }

    // Stops the daemon, which must end by Signal and have said nothing.
    void StopSim(int Signal, int64_t ExitStatus) {
        const ProcessResult Stopped = StopProcess(&Sim, Signal, LOAD_RUN_TIMEOUT_MS);
        EXPECT_FALSE(Stopped.TimedOut);
        EXPECT_EQ(Stopped.ExitStatus, ExitStatus);
        EXPECT_EQ(Stopped.Stderr, "");
    }

    static std::vector<std::string> Empctl(const char* Option) { return {EMPCTL_PATH, Option}; }

    std::string Folder;
    std::string StatePath;
    RunningProcess Sim;
};

// Invariant, checked after every run: the state file holds exactly "34\n"
// or "b4\n", and its byte is in Possible, which starts as {b4} (the byte the
// first daemon writes) and changes with each run as follows:
//  - the driver acknowledged the write (the tool printed the write success
//    line, whether or not the read-back then got through): exactly
//    {target}, since the daemon makes a write durable before replying;
//  - the write got no answer (the daemon died with it in flight):
//    Possible + {target}, since it may have been stored, made durable and
//    the daemon killed before it replied;
//  - the tool never connected: unchanged, nothing reached the driver.
// So the file always equals the last acknowledged (in particular the last
// confirmed) target, or a target written after it whose write went
// unanswered. The runs without a kill must confirm, so they always collapse
// Possible to their target.
TEST_F(EmpctlLoadTest, AlternatingChangesSurviveDriverKills) {
    const uint64_t Seed = ChooseSeed();
    std::printf("load seed %llu (repeat with %s=%llu)\n", static_cast<unsigned long long>(Seed),
                LOAD_SEED_VARIABLE, static_cast<unsigned long long>(Seed));
    std::fflush(stdout);
    RecordProperty("seed", std::to_string(Seed));
    SCOPED_TRACE("seed " + std::to_string(Seed));
    std::mt19937_64 Random(Seed);
    std::uniform_int_distribution<int> KillDraw(0, LOAD_KILL_ONE_IN - 1);
    // The seed fixes where in a run a kill falls, not the microseconds, so
    // that it repeats the same points on a slower or faster machine.
    std::uniform_real_distribution<double> PointDraw(0.0, 1.0);
    double RunLengthUs = 0;
    int RunsMeasured = 0;

    ASSERT_NO_FATAL_FAILURE(StartSim());
    ASSERT_EQ(ReadWholeFile(StatePath), "b4\n");
    std::set<uint8_t> Possible = {0xB4};
    std::string LastStateText = "b4\n";

    int Kills = 0;
    int Outcomes[4] = {};
    int TempFilesLeft = 0;
    const auto Started = std::chrono::steady_clock::now();
    for (int Run = 0; Run < LOAD_RUNS && !HasFailure(); ++Run) {
        const LoadTarget& Target = LOAD_TARGETS[Run % 2];
        const bool Kill = KillDraw(Random) == 0;
        const double Point = Kill ? PointDraw(Random) : 0.0;
        const int DelayUs =
            static_cast<int>(Point * std::max(LOAD_KILL_WINDOW_MIN_US, RunLengthUs));
        SCOPED_TRACE("run " + std::to_string(Run) + " " + Target.Option +
                     (Kill ? ", driver killed after " + std::to_string(DelayUs) + " us" : ""));

        RunningProcess Tool;
        const auto ToolStarted = std::chrono::steady_clock::now();
        ASSERT_TRUE(StartProcess(Empctl(Target.Option), &Tool));
        if (Kill) {
            usleep(static_cast<useconds_t>(DelayUs));
            // A daemon that had already died on its own would not report
            // the kill as its end.
            StopSim(SIGKILL, LOAD_KILLED_STATUS);
        }
        const ProcessResult Result = FinishProcess(&Tool, LOAD_RUN_TIMEOUT_MS);
        ASSERT_TRUE(Result.Started);
        ASSERT_FALSE(Result.TimedOut)
            << "empctl hung; output so far: " << testing::PrintToString(Result.Stdout);
        EXPECT_EQ(Result.Stderr, "");

        if (!Kill) {
            EXPECT_EQ(Result.Stdout, std::string(EXPECTED_WROTE) + Target.Confirmation);
            EXPECT_EQ(Result.ExitStatus, 0);
            Possible = {Target.Setting};
            const double LengthUs = std::chrono::duration<double, std::micro>(
                                        std::chrono::steady_clock::now() - ToolStarted)
                                        .count();
            ++RunsMeasured;
            RunLengthUs += (LengthUs - RunLengthUs) / RunsMeasured;
        } else {
            ++Kills;
            KilledRunOutcome Outcome = KilledRunOutcome::NotConnected;
            ASSERT_TRUE(ClassifyKilledRun(Result, Target, &Outcome))
                << "not a legal ending: " << testing::PrintToString(Result.Stdout) << ", exit "
                << Result.ExitStatus;
            ++Outcomes[static_cast<int>(Outcome)];
            if (Outcome == KilledRunOutcome::Confirmed ||
                Outcome == KilledRunOutcome::WriteAcknowledged) {
                Possible = {Target.Setting};
            } else if (Outcome == KilledRunOutcome::WriteUnanswered) {
                Possible.insert(Target.Setting);
            }
        }

        const std::string StateText = ReadWholeFile(StatePath);
        const LoadTarget* Stored = FindTargetByStateText(StateText);
        ASSERT_NE(Stored, nullptr)
            << "state file torn or lost: " << testing::PrintToString(StateText);
        EXPECT_EQ(Possible.count(Stored->Setting), 1u)
            << "state file holds " << Stored->StateText
            << " which no acknowledged or unanswered write left there";

        // A kill mid-save may leave the daemon's temp (named after the state
        // file) behind. Saves reuse it, so there is never more than one, and
        // a write that changes the byte saves and so takes it away; a write
        // of the byte already stored saves nothing and leaves it.
        const std::vector<std::string> Strays = StrayFiles(Folder);
        EXPECT_LE(Strays.size(), 1u) << testing::PrintToString(Strays);
        for (const std::string& Name : Strays) {
            EXPECT_EQ(Name.rfind(LOAD_STATE_NAME, 0), 0u) << "unexpected file " << Name;
        }
        const bool Changed = StateText != LastStateText;
        LastStateText = StateText;
        if (!Kill) {
            if (Changed) {
                EXPECT_EQ(Strays, std::vector<std::string>()) << "a completed save left a file";
            }
            continue;
        }
        TempFilesLeft += static_cast<int>(Strays.size());
        // The next daemon must start on the saved byte, whatever was left.
        ASSERT_NO_FATAL_FAILURE(StartSim());
        const ProcessResult Shown = RunProcess(Empctl("/s"), LOAD_RUN_TIMEOUT_MS);
        EXPECT_FALSE(Shown.TimedOut);
        EXPECT_EQ(Shown.Stdout, Stored->Shown) << "the restarted driver lost the saved setting";
        EXPECT_EQ(Shown.Stderr, "");
        EXPECT_EQ(Shown.ExitStatus, 0);
    }
    const double Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();

    StopSim(SIGTERM, 0);
    std::printf("%d runs in %.1f s, %d with the driver killed:", LOAD_RUNS, Seconds, Kills);
    for (KilledRunOutcome Outcome :
         {KilledRunOutcome::NotConnected, KilledRunOutcome::Confirmed,
          KilledRunOutcome::WriteAcknowledged, KilledRunOutcome::WriteUnanswered}) {
        std::printf(" %s %d;", DescribeOutcome(Outcome), Outcomes[static_cast<int>(Outcome)]);
    }
    std::printf(" temp file seen after a kill %d times; mean run %.0f us\n", TempFilesLeft,
                RunLengthUs);
}

} // namespace
