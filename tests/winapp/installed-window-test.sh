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
root=$(cd "$(dirname "$0")/../.." && pwd)
com=24

fail() {
    echo "installed-window-test: $*" >&2
    exit 1
}

if holder=$(ss -ltnpH "sport = :19284" 2>/dev/null) && [ -n "$holder" ]; then
    fail "port 19284 is taken: $holder"
fi
setup=$build/modbus-bridge-setup.exe
[ -f "$setup" ] || fail "no installer in $build (build the target windows-packages)"

source "$root/tools/wine-env.sh" "$build"
wine_env_start
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

mkfifo "$work/sim-out"
"$sim_program" >"$work/sim-out" &
sim=$!
exec 4<"$work/sim-out"
read -r -t 30 pty <&4 || fail "modbus-sim did not start"
wine_com_port $com "$pty"
mkdir -p "$user_data"
printf '[Ports]\r\nCOM1=\\\\.\\COM%s\r\n' $com >"$user_data/modbus-bridge.ini"

wine_run 120 "$folder/modbus-bridge.exe" </dev/null >"$work/bridge.out" 2>&1 &
bridge=$!
wine_run 60 "$build/tests/window-driver.exe" wait 30000 </dev/null || fail "the window was not shown"
reply=$(curl -s -H 'Expect:' --data-urlencode 'json_data={"company_id":1,"device_id":1,"slave_addr":1,'\
'"baud_rate":19200,"com_port":1,"poll_ms":1000,"timeout_ms":500,"ctrl_echo":false,'\
'"ctrl_dtr":false,"ctrl_rts":false,"ctrl_invert":false,"rand_string":"demo",'\
'"pdu":{"read":[3,0,0,0,2]}}' http://localhost:19284/)
expected=$(sed -n '/^answers with the request, the two holding registers/,/^```$/{/^{/p}' \
    "$root/README.md")
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
