#!/bin/bash
# The program's command line is never globbed. To a C runtime that expands
# wildcards, "/?" is a pattern matching one-letter names at the root of the
# current drive: with files d, r and s there, "empctl /?" would become
# "empctl /d /r /s", and with d alone "empctl /d". So /? must print the same
# usage text, with the same status, with and without those files.
#
#   no-globbing-test.sh PREFIX EMPCTL-EXE
set -euo pipefail

if [ "$#" -ne 2 ]; then
    echo "usage: no-globbing-test.sh PREFIX EMPCTL-EXE" >&2
    exit 2
fi
Program="$(realpath -- "$2")"
EMPCTL_WINEPREFIX="$1"
# shellcheck source=wine-env.sh
source "$(dirname -- "${BASH_SOURCE[0]}")/wine-env.sh"
RequireThrowawayPrefix
EnsureWineSession

# The current folder is on C:, so C:\ is the drive root "/?" would match in.
DriveRoot="$WINEPREFIX/drive_c"
Work="$DriveRoot/empctl-no-globbing"
RootFiles=(d r s)
Cleanup() {
    for Name in "${RootFiles[@]}"; do
        rm -f -- "${DriveRoot:?}/$Name"
    done
    rm -rf -- "$Work"
}
trap Cleanup EXIT
Cleanup
mkdir -p -- "$Work"

# Runs "empctl /?" from C:\empctl-no-globbing; stdout into FILE, status last.
RunUsage() {
    local Status=0
    (cd -- "$Work" && timeout 120 wine "$Program" '/?' >"$1" 2>&1 </dev/null) || Status=$?
    echo "$Status" >>"$1"
}

RunUsage "$Work/plain.out"
if ! head -n 1 "$Work/plain.out" | grep -q '^Please specify one of the following options to run the tool!'; then
    echo "no-globbing-test.sh: empctl /? did not print the usage text:" >&2
    cat "$Work/plain.out" >&2
    exit 1
fi
for Name in "${RootFiles[@]}"; do
    : >"$DriveRoot/$Name"
done
RunUsage "$Work/files.out"
if ! cmp -s "$Work/plain.out" "$Work/files.out"; then
    echo "no-globbing-test.sh: with C:\\d, C:\\r and C:\\s, empctl /? printed (last line: status):" >&2
    cat "$Work/files.out" >&2
    exit 1
fi
echo "/? is passed as typed"
