#!/usr/bin/env bash
# Builds and runs every test suite: the optimised native build (with lint,
# the load test and the end-to-end cases under valgrind), the same suites
# under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows program
# cross-built with mingw-w64 and tested under Wine against the simulated
# kernel driver (which also makes the release ZIP), and then each fuzz
# target for EMPCTL_FUZZ_SECONDS (default 60) seconds.
set -euo pipefail

cd "$(dirname "$0")/.."
for preset in default sanitize windows; do
    echo "=== cmake --workflow --preset $preset"
    cmake --workflow --preset "$preset"
done
echo "=== fuzz/run-fuzzers.sh ${EMPCTL_FUZZ_SECONDS:-60}"
bash fuzz/run-fuzzers.sh "${EMPCTL_FUZZ_SECONDS:-60}"
