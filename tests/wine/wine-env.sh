# shellcheck shell=bash
# Sourced by the other scripts here: points Wine at a throwaway prefix and
# provides the helpers they share. Never used with the user's own prefix.
#
# In:  EMPCTL_WINEPREFIX        the prefix folder (required)
#      EMPCTL_WINE_TIMEOUT      seconds allowed for one setup or registry
#                               command (default 120)
#      EMPCTL_WINE_PERSIST      seconds a session outlives its last program
#                               (default 30), so back-to-back runs share the
#                               already loaded driver

if [ -z "${EMPCTL_WINEPREFIX:-}" ]; then
    echo "wine-env.sh: EMPCTL_WINEPREFIX is not set" >&2
    exit 2
fi

# Wine wants an absolute path; the comparison below needs a canonical one.
WINEPREFIX="$(realpath -m -- "$EMPCTL_WINEPREFIX")"
case "$WINEPREFIX" in
    / | "$(realpath -m -- "${HOME:-/nonexistent}")" | "$(realpath -m -- "${HOME:-/nonexistent}/.wine")")
        echo "wine-env.sh: refusing to use $WINEPREFIX as a throwaway prefix" >&2
        exit 2
        ;;
esac
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

EMPCTL_WINE_TIMEOUT="${EMPCTL_WINE_TIMEOUT:-120}"
EMPCTL_WINE_PERSIST="${EMPCTL_WINE_PERSIST:-30}"
EMPCTL_PREFIX_MARKER="$WINEPREFIX/.empctl-throwaway-prefix"
# shellcheck disable=SC2034 # used by the scripts that source this file
EMPCTL_DRIVER_SERVICE="ipmidev"

# Only a prefix that the setup script created carries the marker.
RequireThrowawayPrefix() {
    if [ ! -f "$EMPCTL_PREFIX_MARKER" ]; then
        echo "$(basename -- "$0"): $WINEPREFIX is not a prefix made by wine-prefix-setup.sh" >&2
        exit 2
    fi
}

# Runs a Wine command that needs no terminal, under the command time limit.
RunWineCommand() {
    timeout --kill-after=10 "$EMPCTL_WINE_TIMEOUT" wine "$@"
}

# The first program of a session starts the service processes, and they
# inherit its stdout and stderr: a caller capturing that program would wait
# for the whole session to end. So every session is opened here, by a program
# whose streams go nowhere, and kept alive for a while after its last program.
# The lock stops a parallel caller from slipping in as the first program;
# the server and the services must not inherit it, or it is held as long as
# the session lives.
EnsureWineSession() {
    (
        if ! flock -w "$EMPCTL_WINE_TIMEOUT" 9; then
            echo "$(basename -- "$0"): timed out waiting for $WINEPREFIX/.empctl-session.lock" >&2
            exit 1
        fi
        local Started=0
        timeout 30 wineserver "-p$EMPCTL_WINE_PERSIST" </dev/null >/dev/null 2>&1 9>&- || Started=$?
        # 0: a new server was started; 2: one is already running.
        case "$Started" in
            0) RunWineCommand wineboot </dev/null >/dev/null 2>&1 9>&- ;;
            2) ;;
            *)
                echo "$(basename -- "$0"): could not start wineserver (status $Started)" >&2
                exit 1
                ;;
        esac
    ) 9>"$WINEPREFIX/.empctl-session.lock"
}

# Ends the session of this prefix only, and waits until it is gone.
EndWineSession() {
    timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
    timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
}
