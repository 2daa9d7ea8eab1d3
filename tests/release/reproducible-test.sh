#!/bin/bash
# Two clean builds of the same source, from two source folders of different
# names and in different time zones, give byte-identical programs, zips and
# checksum files.
#
#   reproducible-test.sh SOURCE TOOLCHAIN-FILE
set -euo pipefail

if [ "$#" -ne 2 ]; then
    echo "usage: reproducible-test.sh SOURCE TOOLCHAIN-FILE" >&2
    exit 2
fi
ScriptFolder="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)"
Work="$(mktemp -d)"
trap 'rm -rf -- "$Work"' EXIT

# The copies have no git history, so both take the same fixed file time;
# the commit's own time is used when building from the clone itself.
TZ=UTC bash "$ScriptFolder/release-build.sh" "$1" "$2" "$Work/first"
TZ=America/New_York bash "$ScriptFolder/release-build.sh" "$1" "$2" "$Work/second-build-folder"

Failures=0
Compared=0
for First in "$Work"/first/build/empctl.exe "$Work"/first/build/empctl-*.zip*; do
    Second="$Work/second-build-folder/build/$(basename -- "$First")"
    Compared=$((Compared + 1))
    if ! cmp -- "$First" "$Second"; then
        Failures=$((Failures + 1))
    fi
done
if [ "$Compared" -ne 3 ]; then
    echo "reproducible-test.sh: expected the program, a zip and its checksum file; compared $Compared files" >&2
    exit 1
fi
if [ "$Failures" -ne 0 ]; then
    echo "reproducible-test.sh: $Failures of $Compared files differ between the two builds" >&2
    exit 1
fi
echo "program, zip and checksum file identical: $(cat "$Work"/first/build/empctl-*.zip.sha256)"
