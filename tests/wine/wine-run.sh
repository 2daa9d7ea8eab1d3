#!/bin/bash
# Runs a Windows program under Wine in a throwaway prefix; meant to be the
# cross-compiling emulator of a Windows build.
#
#   wine-run.sh DEFAULT-PREFIX PROGRAM [ARGUMENT...]
#
# The prefix is EMPCTL_WINEPREFIX when set and not empty, else DEFAULT-PREFIX,
# and must have been made by wine-prefix-setup.sh. Standard input, output and
# error go straight to the program, and its exit status is this script's
# (124 or 137 when EMPCTL_WINE_RUN_TIMEOUT, default 600 seconds, runs out).
set -euo pipefail

if [ "$#" -lt 2 ]; then
    echo "usage: wine-run.sh DEFAULT-PREFIX PROGRAM [ARGUMENT...]" >&2
    exit 2
fi
EMPCTL_WINEPREFIX="${EMPCTL_WINEPREFIX:-$1}"
shift

# shellcheck source=wine-env.sh
source "$(dirname -- "${BASH_SOURCE[0]}")/wine-env.sh"
RequireThrowawayPrefix
EnsureWineSession

# Without --foreground a program reading a terminal would be stopped; with it
# the limit still holds because wine becomes the program's own process.
TimeoutMode=()
if [ -t 0 ]; then
    TimeoutMode=(--foreground)
fi
exec timeout "${TimeoutMode[@]}" --kill-after=10 "${EMPCTL_WINE_RUN_TIMEOUT:-600}" wine "$@"
