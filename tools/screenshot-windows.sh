#!/usr/bin/env bash
# Takes a picture of the Win32 main window as wine draws it, on the display of the wine
# environment (tools/wine-env.sh): the window with lines of every kind (window-preview), placed
# at the top left of the display.
#
#   tools/screenshot-windows.sh OUTPUT.png [--ask ORIGIN]
#
# Needs the Windows build (tools/build-windows.sh) and the Linux build's screen-grab.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:?usage: tools/screenshot-windows.sh OUTPUT.png [--ask ORIGIN]}
shift
width=900
height=540

cmake --build build --target screen-grab >/dev/null
cmake --build build-windows --target window-preview >/dev/null
source tools/wine-env.sh build-windows
wine_env_start
work=$(mktemp -d)
cleanup() {
    exec 3>&- 2>/dev/null || true
    if [ -n "${preview:-}" ]; then wait "$preview" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# The preview says "shown" once it is drawn, and ends when its input does.
mkfifo "$work/input" "$work/output"
wine_run 120 build-windows/tests/window-preview.exe --place 0 0 $width $height "$@" \
    <"$work/input" >"$work/output" &
preview=$!
exec 3>"$work/input"
read -r -t 60 said <"$work/output" || true
# A Windows program's text output ends its lines with CR LF.
if [ "${said%$'\r'}" != "shown" ]; then
    echo "screenshot-windows: the preview did not show its window" >&2
    exit 1
fi
build/screen-grab "$output" 0 0 $width $height
echo "$output written"
