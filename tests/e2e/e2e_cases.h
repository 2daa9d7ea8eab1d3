// End-to-end cases: command lines run as a process against a simulated
// driver, told independently of how the driver is hosted.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct SimulatedDriver {
    uint8_t Setting = 0xB4;
    uint8_t Status = 0x00;
    uint32_t ReadBytes = 20;
    bool FailReads = false;
    uint32_t ReadError = 0;
    bool FailWrites = false;
    uint32_t WriteError = 0;
    bool KeepSetting = false;
};

struct CommandRun {
    std::vector<std::string> Arguments;
    std::string Stdout; // with "\n" line ends; a Windows host expects CR LF
    int ExitStatus;     // as main returns it: 0 or -1
};

struct EndToEndCase {
    const char* Name;
    SimulatedDriver Driver;
    std::vector<CommandRun> Runs;
    // Every request the driver received, in order, as
    // "<code> <input bytes> out=<output length>".
    std::vector<std::string> Wire;
    uint8_t FinalSetting;
};

inline void PrintTo(const EndToEndCase& Case, std::ostream* Stream) {
    *Stream << Case.Name;
}

const std::vector<EndToEndCase>& GetEndToEndCases();
