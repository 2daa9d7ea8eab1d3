#!/bin/bash
# Makes a fresh throwaway Wine prefix with the simulated IPMI driver running.
#
#   wine-prefix-setup.sh PREFIX DRIVER-SYS
#
# An old prefix at PREFIX is removed first, but only if this script made it;
# any other existing folder is left alone and the script fails. On success a
# session is running with the driver loaded, and every later session loads it
# first because the service starts automatically.
set -euo pipefail

if [ "$#" -ne 2 ]; then
    echo "usage: wine-prefix-setup.sh PREFIX DRIVER-SYS" >&2
    exit 2
fi
DriverFile="$2"
if [ ! -f "$DriverFile" ]; then
    echo "wine-prefix-setup.sh: no driver at $DriverFile" >&2
    exit 2
fi

EMPCTL_WINEPREFIX="$1"
ScriptFolder="$(dirname -- "${BASH_SOURCE[0]}")"
# shellcheck source=wine-env.sh
source "$ScriptFolder/wine-env.sh"

if [ -e "$WINEPREFIX" ]; then
    "$ScriptFolder/wine-prefix-teardown.sh" "$WINEPREFIX"
fi
if [ -e "$WINEPREFIX" ]; then
    echo "wine-prefix-setup.sh: $WINEPREFIX is still there" >&2
    exit 1
fi

# The marker goes in first so that a setup that fails half-way can still be
# torn down.
mkdir -p -- "$WINEPREFIX"
echo "throwaway Wine prefix made by wine-prefix-setup.sh; removed by wine-prefix-teardown.sh" \
    >"$EMPCTL_PREFIX_MARKER"

RunWineCommand wineboot -i </dev/null >/dev/null 2>&1
timeout "$EMPCTL_WINE_TIMEOUT" wineserver -w

DriverFolder="$WINEPREFIX/drive_c/windows/system32/drivers"
mkdir -p -- "$DriverFolder"
cp -- "$DriverFile" "$DriverFolder/$EMPCTL_DRIVER_SERVICE.sys"

EnsureWineSession
RunWineCommand sc create "$EMPCTL_DRIVER_SERVICE" type= kernel start= auto \
    binPath= "C:\\windows\\system32\\drivers\\$EMPCTL_DRIVER_SERVICE.sys" </dev/null >/dev/null
RunWineCommand sc start "$EMPCTL_DRIVER_SERVICE" </dev/null >/dev/null || true

ServiceState="$(RunWineCommand sc query "$EMPCTL_DRIVER_SERVICE" </dev/null 2>&1 || true)"
if ! grep -q 'STATE *: *4 *RUNNING' <<<"$ServiceState"; then
    echo "wine-prefix-setup.sh: the $EMPCTL_DRIVER_SERVICE driver did not start:" >&2
    echo "$ServiceState" >&2
    exit 1
fi
