#!/bin/bash
# Builds and packages a release from a copy of the source tree, as from a
# fresh clone: the files git would commit (no build folders), tests off.
#
#   release-build.sh SOURCE TOOLCHAIN-FILE FOLDER [CMAKE-ARGUMENT...]
#
# The copy goes to FOLDER/src and is built in FOLDER/build with the
# toolchain file of the same name in the copy; the zip and its checksum
# file end up in FOLDER/build.
set -euo pipefail

if [ "$#" -lt 3 ]; then
    echo "usage: release-build.sh SOURCE TOOLCHAIN-FILE FOLDER [CMAKE-ARGUMENT...]" >&2
    exit 2
fi
Source="$1"
Toolchain="$(basename -- "$2")"
Folder="$3"
shift 3

mkdir -p -- "$Folder/src"
if git -C "$Source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # The files git would commit, as they are in the working tree.
    git -C "$Source" ls-files -z --cached --others --exclude-standard | (cd -- "$Source" && tar --null -T - -cf -) | tar -C "$Folder/src" -xf -
else
    tar -C "$Source" --exclude=./build -cf - . | tar -C "$Folder/src" -xf -
fi

cmake -S "$Folder/src" -B "$Folder/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$Folder/src/cmake/$Toolchain" -DEMPCTL_BUILD_TESTS=OFF "$@" >/dev/null
cmake --build "$Folder/build" >/dev/null
(cd -- "$Folder/build" && cpack -G ZIP >/dev/null)
