#!/bin/bash
# Sets and reads the registry values of the simulated IPMI driver.
#
#   wine-driver-params.sh PREFIX ACTION...
#
#   NAME=VALUE   store REG_DWORD NAME; VALUE is decimal or 0x-hex
#   NAME=-       delete NAME, so the driver uses its default
#   --reset      delete every value: all defaults, no request recorded
#   --get NAME   print NAME: a REG_DWORD in decimal, a REG_BINARY as
#                lowercase hex digits (empty for no bytes); exit status 3
#                and no output when NAME is missing
#   --dump       print NAME=VALUE for every value, same formats
#
# Actions run in order. Consecutive changes are applied as one registry import
# to keep the number of Wine programs down. The driver reads the values at
# every request, so changes apply to the next request without a restart.
set -euo pipefail

if [ "$#" -lt 2 ]; then
    echo "usage: wine-driver-params.sh PREFIX {NAME=VALUE | NAME=- | --reset | --get NAME | --dump}..." >&2
    exit 2
fi
EMPCTL_WINEPREFIX="$1"
shift
# shellcheck source=wine-env.sh
source "$(dirname -- "${BASH_SOURCE[0]}")/wine-env.sh"
RequireThrowawayPrefix

PARAMS_REG_KEY="HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\$EMPCTL_DRIVER_SERVICE\\Parameters"
PendingChanges=""
SessionReady=0

FailUsage() {
    echo "wine-driver-params.sh: $1" >&2
    exit 2
}

CheckValueName() {
    [[ "$1" =~ ^[A-Za-z][A-Za-z0-9]*$ ]] || FailUsage "bad value name '$1'"
}

# Prints VALUE as the eight hex digits of a .reg dword.
FormatDword() {
    local Text="$1"
    [[ "$Text" =~ ^(0[xX][0-9a-fA-F]{1,8}|[0-9]{1,10})$ ]] || FailUsage "bad value '$Text'"
    # Leading zeros would make bash read a decimal as octal.
    if [[ ! "$Text" =~ ^0[xX] ]]; then
        Text="$((10#$Text))"
    fi
    (( Text <= 0xFFFFFFFF )) || FailUsage "value '$1' does not fit 32 bits"
    printf '%08x' "$((Text))"
}

StartSessionOnce() {
    if [ "$SessionReady" -eq 0 ]; then
        EnsureWineSession
        SessionReady=1
    fi
}

ApplyPendingChanges() {
    if [ -z "$PendingChanges" ]; then
        return
    fi
    StartSessionOnce
    local ImportFile
    ImportFile="$(mktemp "$WINEPREFIX/drive_c/empctl-params-XXXXXX.reg")"
    # CRLF, as the registry editor writes its own exports.
    printf 'Windows Registry Editor Version 5.00\r\n\r\n%s' "$PendingChanges" >"$ImportFile"
    local Status=0
    RunWineCommand reg import "C:\\$(basename -- "$ImportFile")" </dev/null >/dev/null 2>&1 || Status=$?
    rm -f -- "$ImportFile"
    if [ "$Status" -ne 0 ]; then
        echo "wine-driver-params.sh: registry import failed (status $Status)" >&2
        exit 1
    fi
    PendingChanges=""
}

# Prints NAME=VALUE lines for every value; nothing when the key is missing.
ReadAllValues() {
    StartSessionOnce
    local Listing
    Listing="$(RunWineCommand reg query "$PARAMS_REG_KEY" </dev/null 2>/dev/null)" || return 0
    # Lines are "    NAME    TYPE    DATA" with CRLF endings.
    local Line
    while IFS= read -r Line; do
        Line="${Line%$'\r'}"
        if [[ "$Line" =~ ^\ {4}([A-Za-z0-9]+)\ {4}REG_DWORD\ {4}(0x[0-9a-fA-F]+)$ ]]; then
            echo "${BASH_REMATCH[1]}=$((BASH_REMATCH[2]))"
        elif [[ "$Line" =~ ^\ {4}([A-Za-z0-9]+)\ {4}REG_BINARY\ {4}([0-9a-fA-F]*)$ ]]; then
            echo "${BASH_REMATCH[1]}=${BASH_REMATCH[2],,}"
        fi
    done <<<"$Listing"
}

while [ "$#" -gt 0 ]; do
    Action="$1"
    shift
    case "$Action" in
        --reset)
            PendingChanges+="[-$PARAMS_REG_KEY]"$'\r\n'"[$PARAMS_REG_KEY]"$'\r\n'
            ;;
        --get)
            [ "$#" -gt 0 ] || FailUsage "--get needs a value name"
            CheckValueName "$1"
            ApplyPendingChanges
            Found="$(ReadAllValues | grep -i -m1 "^$1=" || true)"
            shift
            [ -n "$Found" ] || exit 3
            echo "${Found#*=}"
            ;;
        --dump)
            ApplyPendingChanges
            ReadAllValues
            ;;
        *=*)
            Name="${Action%%=*}"
            Value="${Action#*=}"
            CheckValueName "$Name"
            if [ "$Value" = "-" ]; then
                Line="\"$Name\"=-"
            else
                Line="\"$Name\"=dword:$(FormatDword "$Value")"
            fi
            PendingChanges+="[$PARAMS_REG_KEY]"$'\r\n'"$Line"$'\r\n'
            ;;
        *)
            FailUsage "unknown action '$Action'"
            ;;
    esac
done
ApplyPendingChanges
