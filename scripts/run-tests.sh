#!/usr/bin/env bash
# Builds and runs every test suite: the optimised native build, the same
# suites under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# Windows program cross-built with mingw-w64 and tested under Wine against
# the simulated kernel driver (which also makes the release ZIP).
set -euo pipefail

cd "$(dirname "$0")/.."
for preset in default sanitize windows; do
    echo "=== cmake --workflow --preset $preset"
    cmake --workflow --preset "$preset"
done
