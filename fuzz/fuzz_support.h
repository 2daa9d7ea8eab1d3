// What both fuzz targets share: reading the fuzzer's bytes and stopping the
// run loudly when an invariant breaks.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The fuzzer's input, taken from the front. Bytes past the end read as zero,
// so every input, however short, decodes to one well-defined run.
struct FuzzInput {
    const uint8_t* Data;
    size_t Size;
};

uint8_t TakeFuzzByte(FuzzInput* Input);
// Four bytes, least significant first.
uint32_t TakeFuzzDword(FuzzInput* Input);

// Prints the broken invariant on standard error and traps, so that the
// fuzzer records the input as a crash.
[[noreturn]] void FailFuzzCheck(const char* File, int Line, const char* Condition,
                                const char* Format, ...) __attribute__((format(printf, 4, 5)));

#define FUZZ_CHECK(Condition, ...)                                                                 \
    do {                                                                                           \
        if (!(Condition)) {                                                                        \
            FailFuzzCheck(__FILE__, __LINE__, #Condition, __VA_ARGS__);                            \
        }                                                                                          \
    } while (0)
