#!/bin/bash
# The Windows program's exit statuses as its callers see them: a Linux shell
# running it under Wine, and cmd.exe's ERRORLEVEL. The driver is made to
# stopped for the failing cases, so that there is no device to open.
#
#   exit-status-test.sh PREFIX EMPCTL-EXE
set -euo pipefail

if [ "$#" -ne 2 ]; then
    echo "usage: exit-status-test.sh PREFIX EMPCTL-EXE" >&2
    exit 2
fi
Prefix="$1"
Program="$2"
ScriptFolder="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)"
EMPCTL_WINEPREFIX="$Prefix"
# shellcheck source=wine-env.sh
source "$ScriptFolder/wine-env.sh"
RequireThrowawayPrefix
EnsureWineSession

Work="$(mktemp -d)"
Failures=0
Cleanup() {
    DriverService start
    rm -rf -- "$Work" "$WINEPREFIX/drive_c/empctl-exit-status.exe"
}
trap Cleanup EXIT

# Stops or starts the driver's service; sc returns before it gets there.
DriverService() {
    local Wanted
    if [ "$1" = stop ]; then Wanted=STOPPED; else Wanted=RUNNING; fi
    timeout 60 wine sc "$1" "$EMPCTL_DRIVER_SERVICE" </dev/null >/dev/null 2>&1 || true
    for _ in $(seq 100); do
        if timeout 60 wine sc query "$EMPCTL_DRIVER_SERVICE" </dev/null 2>/dev/null | grep -q "$Wanted"; then
            return 0
        fi
        sleep 0.2
    done
    echo "exit-status-test.sh: the driver did not reach $Wanted" >&2
    return 1
}

Fail() {
    echo "FAIL: $*" >&2
    Failures=$((Failures + 1))
}

# Runs the program under Wine with ARGUMENTS and checks the status a shell
# sees, the exact stdout and an empty stderr.
ExpectRun() {
    local ExpectedStatus="$1" ExpectedOutput="$2"
    shift 2
    local Status=0
    timeout 120 wine "$Program" "$@" >"$Work/out" 2>"$Work/err" </dev/null || Status=$?
    printf '%b' "$ExpectedOutput" >"$Work/expected"
    [ "$Status" -eq "$ExpectedStatus" ] || Fail "empctl $* exited $Status, expected $ExpectedStatus"
    cmp -s "$Work/out" "$Work/expected" || Fail "empctl $* printed: $(od -c "$Work/out" | head -5)"
    [ ! -s "$Work/err" ] || Fail "empctl $* wrote to stderr: $(cat "$Work/err")"
}

# Prints the ERRORLEVEL cmd.exe reports after running the program. The
# delayed form (!ERRORLEVEL!) is read after the program ends. The program is
# run from the prefix's C: drive, a path that needs no quoting.
CmdErrorLevel() {
    cp -- "$Program" "$WINEPREFIX/drive_c/empctl-exit-status.exe"
    { timeout 120 wine cmd /v:on /c "C:\\empctl-exit-status.exe $* >NUL & echo !ERRORLEVEL!" \
        </dev/null 2>/dev/null || true; } | tr -d '\r' | tail -n 1
}

NoDevice='Unable to open handle to IPMI driver!\r\n'
Usage='Please specify one of the following options to run the tool!\r\n\t/s       Display current EMP com2 port setting.\r\n\t/d       Disable EMP on com2 port.\r\n\t/r       Restore EMP on com2 port.\r\n'

DriverService stop
ExpectRun 255 "$NoDevice" /s
ExpectRun 255 "$NoDevice" /D
ExpectRun 0 "$Usage" /?
ExpectRun 0 "Invalid command options!\\r\\n$Usage" /x
Level="$(CmdErrorLevel /s)"
[ "$Level" = "-1" ] || Fail "cmd.exe saw ERRORLEVEL '$Level' after a failed open, expected -1"
Level="$(CmdErrorLevel /?)"
[ "$Level" = "0" ] || Fail "cmd.exe saw ERRORLEVEL '$Level' after /?, expected 0"

DriverService start
"$ScriptFolder/wine-driver-params.sh" "$Prefix" Setting=0xb4 FailRead=- ReplyStatus=0 ReadBytes=20 >/dev/null
ExpectRun 0 '\r\n\r\nEMP on Com2 port is currently enabled!\r\n\r\n' /s
Level="$(CmdErrorLevel /s)"
[ "$Level" = "0" ] || Fail "cmd.exe saw ERRORLEVEL '$Level' after /s, expected 0"

if [ "$Failures" -ne 0 ]; then
    echo "$Failures check(s) failed" >&2
    exit 1
fi
echo "exit statuses as expected"
