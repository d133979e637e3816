#!/usr/bin/env bash
# The installed window under wine, on the wine environment's display: installed silently into
# Program Files, it reads its settings from the user's application data (a [Ports] line there leads COM1
# to modbus-sim on COM24), serves the README's example request, and writes its placement there
# when WM_CLOSE ends it, nothing beside the program; the silent uninstall keeps those settings.
#
#   tests/winapp/installed-window-test.sh WINDOWS_BUILD MODBUS_SIM
set -euo pipefail
build=$(cd "$1" && pwd)
sim_program=$2
com=24
source "$(dirname "$0")/../support/wine_bridge_test.sh"
setup=$build/modbus-bridge-setup.exe
[ -f "$setup" ] || fail "no installer in $build (build the target windows-packages)"
wine_bridge_test_begin "$build"
windows_variable() {
    wine_run 30 cmd /c "echo %$1%" </dev/null 2>/dev/null | tr -d '\r'
}
folder_windows="$(windows_variable ProgramFiles)\\modbus-bridge"
folder=$(winepath -u "$folder_windows" 2>/dev/null)
user_data=$(winepath -u "$(windows_variable APPDATA)\\modbus-bridge" 2>/dev/null)
[ ! -e "$folder" ] || fail "$folder is there before the install: an earlier run left it"
[ ! -e "$user_data" ] || fail "$user_data is there before the install: an earlier run left it"

work=$(mktemp -d)
sim=""
bridge=""
cleanup() {
    if [ -n "$bridge" ]; then kill "$bridge" 2>/dev/null || true; fi
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; fi
    rm -f "$WINEPREFIX/dosdevices/com$com"
    wine_run 30 reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\modbus-bridge' \
        /f </dev/null >/dev/null 2>&1 || true
    rm -rf "$folder" "$user_data" "$work"
}
trap cleanup EXIT

wine_run 120 "$setup" /S </dev/null || fail "the silent install ended with $?"
[ -f "$folder/modbus-bridge.exe" ] || fail "no modbus-bridge.exe in $folder"

wine_bridge_sim $com "$sim_program" "$work"
mkdir -p "$user_data"
printf '[Ports]\r\nCOM1=\\\\.\\COM%s\r\n' $com >"$user_data/modbus-bridge.ini"

wine_run 120 "$folder/modbus-bridge.exe" </dev/null >"$work/bridge.out" 2>&1 &
bridge=$!
wine_run 60 "$build/tests/window-driver.exe" wait 30000 </dev/null || fail "the window was not shown"
reply=$(readme_request)
expected=$(readme_reply)
[ "$reply" = "$expected" ] || fail "reply $reply, the README shows $expected"
wine_run 60 "$build/tests/window-driver.exe" close 5000 </dev/null >/dev/null ||
    fail "the window did not end after WM_CLOSE"
wait "$bridge" || fail "the window ended with $?"
bridge=""
grep -q '^WindowsWidth=600' "$user_data/modbus-bridge.ini" ||
    fail "no placement in the application data: $(cat "$user_data/modbus-bridge.ini")"
[ ! -e "$folder/modbus-bridge.ini" ] || fail "settings written beside the installed program"

# Run in place (_?=), the uninstaller ends when it is done (tests/windows/installer-test.sh).
printf '@"%s\\uninstall.exe" /S _?=%s\r\n' "$folder_windows" "$folder_windows" >"$work/uninstall.bat"
wine_run 120 cmd /c "$(winepath -w "$work/uninstall.bat" 2>/dev/null)" </dev/null ||
    fail "the silent uninstall ended with $?"
[ ! -e "$folder/modbus-bridge.exe" ] || fail "the uninstall left the program"
grep -q '^WindowsWidth=600' "$user_data/modbus-bridge.ini" ||
    fail "the uninstall changed the user's settings"
echo "installed-window-test: passed"
