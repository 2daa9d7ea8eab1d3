#!/bin/bash
# Ends the session of a throwaway prefix and deletes the prefix.
#
#   wine-prefix-teardown.sh PREFIX
#
# Only a prefix made by wine-prefix-setup.sh is touched; a missing one is
# already torn down.
set -euo pipefail

if [ "$#" -ne 1 ]; then
    echo "usage: wine-prefix-teardown.sh PREFIX" >&2
    exit 2
fi
EMPCTL_WINEPREFIX="$1"
# shellcheck source=wine-env.sh
source "$(dirname -- "${BASH_SOURCE[0]}")/wine-env.sh"

if [ ! -e "$WINEPREFIX" ]; then
    exit 0
fi
RequireThrowawayPrefix
EndWineSession
rm -rf -- "$WINEPREFIX"
