#!/usr/bin/env bash
# Builds empctl and shows its main job against the simulated IPMI driver:
# show the EMP setting, disable it, show it, restore it and show it again.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/demo"
cd "$root"

cmake --preset demo >/dev/null
cmake --build --preset demo >/dev/null

work=$(mktemp -d)
sim_pid=""
cleanup() {
    if [[ -n "$sim_pid" ]]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/ready"
"$build/ipmidev-sim" --setting b4 --log "$work/wire.log" >"$work/ready" 2>"$work/sim.err" &
sim_pid=$!
if ! timeout 10 head -n 1 "$work/ready" >/dev/null; then
    echo "ipmidev-sim did not start: $(cat "$work/sim.err")" >&2
    exit 1
fi

for option in /s /d /s /r /s; do
    echo "\$ empctl $option"
    status=0
    timeout 10 "$build/empctl" "$option" || status=$?
    echo "[exit status $status]"
    echo
done

echo "Requests the simulated driver received:"
cat "$work/wire.log"
