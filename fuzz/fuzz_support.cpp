#include "fuzz_support.h"

#include <cstdarg>
#include <cstdio>

uint8_t TakeFuzzByte(FuzzInput* Input) {
    if (Input->Size == 0) {
        return 0;
    }
    const uint8_t Byte = Input->Data[0];
    ++Input->Data;
    --Input->Size;
    return Byte;
}

uint32_t TakeFuzzDword(FuzzInput* Input) {
    uint32_t Value = 0;
    for (unsigned Shift = 0; Shift < 32; Shift += 8) {
        Value |= static_cast<uint32_t>(TakeFuzzByte(Input)) << Shift;
    }
    return Value;
}

void FailFuzzCheck(const char* File, int Line, const char* Condition, const char* Format, ...) {
    std::fprintf(stderr, "\n==== invariant broken at %s:%d: %s\n", File, Line, Condition);
    va_list Arguments;
    va_start(Arguments, Format);
    std::vfprintf(stderr, Format, Arguments);
    va_end(Arguments);
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
    __builtin_trap();
}
