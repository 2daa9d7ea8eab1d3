#!/usr/bin/env bash
# Builds and runs every test suite: the optimised native build, then the
# same suites under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail

cd "$(dirname "$0")/.."
for preset in default sanitize; do
    echo "=== cmake --workflow --preset $preset"
    cmake --workflow --preset "$preset"
done
