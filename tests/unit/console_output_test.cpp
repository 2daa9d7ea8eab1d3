// The real ConsolePrint. The rest of the unit suite captures the tool's
// output in its place, so only here is it seen to write the formatted text
// to standard output, byte for byte, and nothing to standard error.
#include "console_output.h"
#include "empctl_expected.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(ConsoleOutput, WritesTheFormattedTextToStandardOutputOnly) {
    std::fflush(stdout);
    std::fflush(stderr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ConsolePrint("%s", EXPECTED_USAGE);
    ConsolePrint(EXPECTED_FORMAT_SHOW_MISMATCH, 0xC1u, 0x4u);
    ConsolePrint(EXPECTED_FORMAT_WRITE_FAILURE, 0xFFFFFFFFu);
    std::fflush(stdout);
    std::fflush(stderr);
    const std::string Stderr = testing::internal::GetCapturedStderr();
    const std::string Stdout = testing::internal::GetCapturedStdout();

    EXPECT_EQ(Stdout, EXPECTED_USAGE + ExpectedShow(0xC1, 0x4) + ExpectedWriteFailure(0xFFFFFFFFu));
    EXPECT_EQ(Stderr, "");
}

} // namespace
