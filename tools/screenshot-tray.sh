#!/usr/bin/env bash
# Takes the pictures of the tray for the docs:
#   docs/tray-linux.png          the icon in a desktop's tray (icewm under Xvfb) with its menu
#                                open, while a page waits for consent (the amber mark);
#   docs/tray-notification.png   the notification about that page, as the tray's own balloon
#                                draws it where the desktop runs no notification service;
#   docs/tray-windows.png        the Windows program's icon and balloon under wine, docked in an
#                                X tray (trayer) on the wine environment's display.
# The Linux window listens on the bridge's fixed port 19284 while it runs.
#
#   tools/screenshot-tray.sh
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --build build --target modbus-bridge screen-grab >/dev/null
work=$(mktemp -d)
display=:${SCREENSHOT_DISPLAY:-96}
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
x() { DISPLAY=$display "$@"; }

Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
until x xprop -root >/dev/null 2>&1; do sleep 0.1; done
mkdir "$work/icewm"
printf 'TaskBarEnableSystemTray=1\nTaskBarShowClock=0\n' >"$work/icewm/preferences"
ICEWM_PRIVCFG=$work/icewm x icewm >/dev/null 2>&1 &
pids+=($!)
until x xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; do sleep 0.1; done

mkdir "$work/bridge"
cp build/modbus-bridge "$work/bridge/"
printf '[Options]\nViewSet=1\n' >"$work/bridge/modbus-bridge.ini"
# No session bus: the notification is the tray's own balloon, which the picture can hold.
DBUS_SESSION_BUS_ADDRESS=disabled: XDG_CONFIG_HOME=$work/config \
    x "$work/bridge/modbus-bridge" --minimized >"$work/bridge.out" 2>&1 &
pids+=($!)
until (exec 3<>/dev/tcp/127.0.0.1/19284) 2>/dev/null; do sleep 0.2; done
icon=""
until [ -n "$icon" ]; do
    for window in $(x xdotool search --classname modbus-bridge 2>/dev/null); do
        if x xwininfo -id "$window" | grep -q 'Width: 2[0-9]$' &&
            x xwininfo -id "$window" | grep -q IsViewable; then
            icon=$window
        fi
    done
    sleep 0.2
done
curl -s -H 'Origin: https://plant.example' --data-urlencode 'json_data={}' \
    http://localhost:19284/ >/dev/null
sleep 1.5
mkdir -p docs
x build/screen-grab docs/tray-notification.png 400 380 400 220
# A click on the balloon would bring the window: the balloon is left to go by itself (ten
# seconds), then the icon's menu opens with the right button.
sleep 11
x xdotool mousemove --window "$icon" 5 5 click 3
sleep 1
x build/screen-grab docs/tray-linux.png 500 420 300 180
echo "docs/tray-linux.png, docs/tray-notification.png written"

cmake --build build-windows --target window-preview >/dev/null
source tools/wine-env.sh build-windows
wine_env_start
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
sleep 1
mkfifo "$work/input" "$work/output"
wine_run 120 build-windows/tests/window-preview.exe --place 0 40 640 360 --ask \
    https://plant.example --tray <"$work/input" >"$work/output" &
pids+=($!)
exec 3>"$work/input"
read -r -t 60 said <"$work/output" || true
[ "${said%$'\r'}" = shown ] || { echo "screenshot-tray: the preview did not show" >&2; exit 1; }
sleep 2
build/screen-grab docs/tray-windows.png 0 0 1280 420
exec 3>&-
echo "docs/tray-windows.png written"
