#!/usr/bin/env bash
# Builds and runs every test suite: the optimised native build (with lint,
# the load test, the end-to-end cases under valgrind and the fleet tests),
# the same suites under AddressSanitizer and UndefinedBehaviorSanitizer, the
# 64-bit and 32-bit Windows programs cross-built with mingw-w64 and tested
# under Wine against the simulated kernel driver (which also makes the
# release packages), and each fuzz target for EMPCTL_FUZZ_SECONDS (default
# 60) seconds.
#
# Run as root, it first installs whatever the machine lacks
# (.ci/install-deps.sh, which does nothing when all is there); run as another
# user, it says what is missing.
set -euo pipefail

cd "$(dirname "$0")/.."
if [[ $(id -u) -eq 0 ]]; then
    bash .ci/install-deps.sh
elif ! bash .ci/install-deps.sh --check; then
    echo "run-tests.sh: run it as root to install them, or install them first" >&2
    exit 1
fi

# Every core, for the tests as for the build (Ninja takes them by itself).
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
SECONDS=0
cmake --preset fuzz -DEMPCTL_FUZZ_SECONDS="${EMPCTL_FUZZ_SECONDS:-60}" >/dev/null
for preset in default sanitize windows windows-x86 fuzz; do
    echo "=== cmake --workflow --preset $preset"
    cmake --workflow --preset "$preset"
    echo "=== $preset passed; ${SECONDS} s so far"
done
