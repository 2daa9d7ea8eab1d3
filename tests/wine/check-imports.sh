#!/bin/bash
# Checks that a Windows program imports only KERNEL32.dll and msvcrt.dll,
# the DLLs every Windows install has.
#
#   check-imports.sh OBJDUMP PROGRAM
set -euo pipefail

if [ "$#" -ne 2 ]; then
    echo "usage: check-imports.sh OBJDUMP PROGRAM" >&2
    exit 2
fi
Imports="$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -f | tr '\n' ' ')"
Expected="KERNEL32.dll msvcrt.dll "
if [ "$Imports" != "$Expected" ]; then
    echo "check-imports.sh: $2 imports: ${Imports:-nothing}; expected: $Expected" >&2
    exit 1
fi
echo "imports: $Imports"
