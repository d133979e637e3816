#!/usr/bin/env bash
# Runs the serial port test under wine on a pseudo-terminal pair: socat holds both ends on the
# Linux side and relays between them; wine sees them as COM5 and COM6.
#
#   serial-pty-test.sh <Windows build folder> <test .exe> [test arguments]
set -euo pipefail
build=$1
program=$2
shift 2
source "$(dirname "$0")/../../tools/wine-env.sh" "$build"
wine_env_start

work=$(mktemp -d)
socat_pid=
cleanup() {
    if [ -n "$socat_pid" ]; then kill "$socat_pid" 2>/dev/null || true; fi
    rm -f "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com6"
    rm -rf "$work"
}
trap cleanup EXIT

socat pty,raw,echo=0,link="$work/device" pty,raw,echo=0,link="$work/peer" &
socat_pid=$!
# socat makes the links once both ends exist.
for _ in $(seq 200); do
    if [ -e "$work/device" ] && [ -e "$work/peer" ]; then break; fi
    if ! kill -0 "$socat_pid" 2>/dev/null; then echo "socat ended" >&2; exit 1; fi
    sleep 0.01
done
wine_com_port 5 "$(readlink -f "$work/device")"
wine_com_port 6 "$(readlink -f "$work/peer")"

SERIAL_PTY_DEVICE='\\.\COM5' SERIAL_PTY_PEER='\\.\COM6' wine_run 120 "$program" "$@"
