#!/usr/bin/env bash
# Runs the serial port test on a pseudo-terminal pair that socat holds and relays between. A
# Windows test (.exe) runs under wine in the wine environment of its build folder, with the two
# ends as COM5 and COM6 of that prefix; a Linux test opens the ends directly.
#
#   serial-pty-test.sh <build folder> <test program> [test arguments]
set -euo pipefail
build=$1
program=$2
shift 2

work=$(mktemp -d)
socat_pid=
windows=false
cleanup() {
    if [ -n "$socat_pid" ]; then kill "$socat_pid" 2>/dev/null || true; fi
    if $windows; then rm -f "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com6"; fi
    rm -rf "$work"
}
trap cleanup EXIT

socat pty,raw,echo=0,link="$work/device" pty,raw,echo=0,link="$work/peer" &
socat_pid=$!
# socat makes the links once both ends exist.
for _ in $(seq 500); do
    if [ -e "$work/device" ] && [ -e "$work/peer" ]; then break; fi
    if ! kill -0 "$socat_pid" 2>/dev/null; then echo "socat ended" >&2; exit 1; fi
    sleep 0.01
done
device=$(readlink -f "$work/device")
peer=$(readlink -f "$work/peer")

if [[ $program == *.exe ]]; then
    windows=true
    source "$(dirname "$0")/../../tools/wine-env.sh" "$build"
    wine_env_start
    wine_com_port 5 "$device"
    wine_com_port 6 "$peer"
    SERIAL_PTY_DEVICE='\\.\COM5' SERIAL_PTY_PEER='\\.\COM6' wine_run 120 "$program" "$@"
else
    SERIAL_PTY_DEVICE=$device SERIAL_PTY_PEER=$peer timeout 120 "$program" "$@"
fi
