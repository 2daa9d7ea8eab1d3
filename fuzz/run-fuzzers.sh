#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for SECONDS (default 60)
# each, on a throwaway copy of its seed corpus, so the committed corpus never
# grows. Prints the executions each target reached; exits non-zero if any
# target crashed, keeping the crashing inputs under build/fuzz/crashes/.
#
# usage: fuzz/run-fuzzers.sh [SECONDS]
set -euo pipefail

readonly TARGETS=(fuzz_empctl_main fuzz_driver_logic)
seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
cd "$root"
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake --preset fuzz
fi
cmake --build --preset fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/empctl-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0
for target in "${TARGETS[@]}"; do
    corpus=$work/$target/corpus
    artifacts=$work/$target/artifacts
    log=$work/$target/log
    mkdir -p "$corpus" "$artifacts"
    cp "$root/fuzz/corpus/$target/"* "$corpus/"

    status=0
    "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?

    # A crash inside the tool can take libFuzzer's own closing lines with it,
    # so the exit status and the artifacts decide, not the log.
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [[ $status -ne 0 ]] || compgen -G "$artifacts/*" >/dev/null; then
        failed=1
        kept=$build/crashes/$target
        mkdir -p "$kept"
        cp "$artifacts/"* "$kept/" 2>/dev/null || true
        echo "$target: FAILED (exit status $status) after ${executions:-an unknown number of} executions"
        grep -E -A8 '^==== invariant broken|ERROR: (AddressSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error' \
            "$log" | head -n 40 || true
        echo "$target: inputs kept in $kept; replay one with $build/$target FILE"
    else
        echo "$target: ${executions:-?} executions in ${seconds} s, no crash"
    fi
done
exit "$failed"
