#!/bin/bash
# Checks what a Windows program needs from the system it runs on: it imports
# only KERNEL32.dll and msvcrt.dll, the DLLs every Windows install has; it
# imports exactly the functions pinned for its architecture (imports-win64.txt
# or imports-win32.txt next to this script), so a toolchain change that adds
# one missing from older Windows fails here and not on a server; and ASLR and
# DEP stay on (DYNAMIC_BASE and NX_COMPAT, and HIGH_ENTROPY_VA when 64-bit).
#
#   check-imports.sh OBJDUMP PROGRAM
set -euo pipefail

if [ "$#" -ne 2 ]; then
    echo "usage: check-imports.sh OBJDUMP PROGRAM" >&2
    exit 2
fi
Objdump="$1"
Program="$2"
ScriptFolder="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)"
Failures=0
Fail() {
    echo "check-imports.sh: $Program: $*" >&2
    Failures=$((Failures + 1))
}

Headers="$("$Objdump" -p "$Program")"

Imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$Headers" | sort -f | tr '\n' ' ')"
Expected="KERNEL32.dll msvcrt.dll "
if [ "$Imports" != "$Expected" ]; then
    Fail "imports ${Imports:-nothing}; expected: $Expected"
fi

# DllCharacteristics bits: HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100.
case "$("$Objdump" -f "$Program" | sed -n 's/.*file format //p')" in
    pei-x86-64) Architecture=win64 Required=0x160 ;;
    pei-i386) Architecture=win32 Required=0x140 ;;
    *) Fail "is not a 32-bit or 64-bit x86 Windows program"; exit 1 ;;
esac

# The import table lists, after each "DLL Name:", lines of "VMA HINT NAME".
Functions="$(awk '
    /^[[:space:]]*DLL Name: / { dll = $3; next }
    dll != "" && /^[[:space:]]*$/ { dll = ""; next }
    dll != "" && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ && NF == 3 { print dll " " $3 }
' <<<"$Headers" | LC_ALL=C sort)"
Pinned="$ScriptFolder/imports-$Architecture.txt"
if ! Difference="$(diff <(LC_ALL=C sort "$Pinned") <(echo "$Functions"))"; then
    Fail "imported functions differ from $(basename -- "$Pinned") (< pinned only, > program only):"
    echo "$Difference" >&2
fi

Characteristics="$(sed -n 's/^DllCharacteristics[[:space:]]*\([0-9a-fA-F]*\).*/\1/p' <<<"$Headers")"
if [ -z "$Characteristics" ] || (((0x$Characteristics & Required) != Required)); then
    Fail "DllCharacteristics 0x${Characteristics:-?} lacks some of $Required (ASLR, DEP)"
fi

if [ "$Failures" -ne 0 ]; then
    exit 1
fi
echo "imports: $Imports($(wc -l <<<"$Functions") functions as pinned), DllCharacteristics 0x$Characteristics"
