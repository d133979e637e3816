#!/usr/bin/env bash
# modbus-bridge.exe under wine, on the wine environment's display, driven through its window's
# messages and real key strokes (window-driver.exe): it serves the README's example request from
# modbus-sim behind COM24, takes each of the three view options from its menu, asks about two
# pages and takes the answers from the keyboard (Tab and Space; the access key), changes sites in
# its sites dialog and opens its ports dialog, saves its log as
# RTF and as text through the save dialog (the same bytes as this build's writers give for the
# same lines: log-file-twin), keeps its log's view across maximize, minimize and restore, ends
# within a second of WM_CLOSE with its settings written and nothing left to do once its window
# went, and starts again with the options on; a logout ends it as WM_CLOSE does. "Запускать при
# входе в систему" from the window's menu writes the Run value naming this copy, and from the
# tray icon's menu removes it; started with --minimized the window hides in the tray, and a
# click on the icon brings it. A second start brings the window out of the tray and ends with 0
# (one at login leaves it hidden), modbus-bridged.exe beside it names it as the port's holder, and
# a first copy that was killed keeps no later start out; the window beside modbus-bridged.exe names
# that.
#
#   tests/winapp/window-program-test.sh WINDOWS_BUILD MODBUS_SIM LOG_FILE_TWIN
set -euo pipefail
build=$(cd "$1" && pwd)
sim_program=$2
twin=$3
com=24
error_command=201
set_command=202
hex_command=203
start_at_login_command=103
tray_start_at_login_command=402
sites_command=401
ports_command=402
# The sites dialog's buttons: the field's "Добавить", then "Разрешить", "Запретить", "Забыть".
add_button=104
refuse_button=111
forget_button=112

source "$(dirname "$0")/../support/wine_bridge_test.sh"
wine_bridge_test_begin "$build"
work=$(mktemp -d)
sim=""
bridge=""
bridged=""
cleanup() {
    if [ -n "$bridge" ]; then kill "$bridge" 2>/dev/null || true; fi
    if [ -n "$bridged" ]; then
        wine_run 30 taskkill /f /im modbus-bridged.exe </dev/null >/dev/null 2>&1 || true
    fi
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; fi
    rm -f "$WINEPREFIX/dosdevices/com$com"
    rm -rf "$work"
}
trap cleanup EXIT

driver() {
    wine_run 60 "$build/tests/window-driver.exe" "$@" </dev/null
}

# The portable copy: the settings file beside the program, the saves below it.
mkdir -p "$work/Мост"
program="$work/Мост/modbus-bridge.exe"
cp "$build/modbus-bridge.exe" "$program"
settings="$work/Мост/modbus-bridge.ini"

wine_bridge_sim $com "$sim_program" "$work"
printf '[Ports]\r\nCOM1=\\\\.\\COM%s\r\n' $com >"$settings"

start_bridge() {
    wine_run 120 "$program" "$@" </dev/null >"$work/bridge.out" 2>&1 &
    bridge=$!
    if [ "${1:-}" != --minimized ]; then
        driver wait 30000 || fail "the window was not shown"
    fi
}

run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
run_value() {
    local answer
    # reg fails on a missing value, which is an answer here: empty.
    answer=$(wine_run 30 reg query "$run_key" /v modbus-bridge </dev/null 2>/dev/null) || true
    tr -d '\r' <<<"$answer" | sed -n 's/^ *modbus-bridge *REG_SZ *//p'
}
# Waits until the Run value matches (a pattern; empty: no value), at most 20 s.
wait_run_value() {
    local deadline=$((SECONDS + 20)) value
    until value=$(run_value) && [[ $value == $1 ]]; do
        [ $SECONDS -lt $deadline ] || fail "the Run value is '$value', not like '$1'"
        sleep 0.2
    done
}

# close: WM_CLOSE; endsession: the messages of a logout.
stop_bridge() {
    local figures took gone
    figures=$(driver "$1" 5000 | tr -d '\r') || fail "the program did not end ($1)"
    read -r took gone <<<"$figures"
    wait "$bridge" || fail "the program ended with $?"
    bridge=""
    echo "ended ${took} ms after $1, its window gone after ${gone} ms"
    # The shutdown pauses 500 ms after closing the port; a second is its bound.
    [ "$took" -lt 1000 ] || fail "the program took ${took} ms to end ($1)"
    # Its window goes last: nothing is left to wait for then.
    [ $((took - gone)) -lt 400 ] ||
        fail "the program went on $((took - gone)) ms after its window went ($1)"
}

# The log's view (window-driver's log: the first line in sight, the count of lines, the vertical
# scroll bar shown) as the window's size changes: past its height the log has its scroll bar and
# shows its newest lines; maximized, it shows them all; restored, it shows the newest again and
# follows new ones; scrolled to its top, it stays there while lines come with the window
# minimized. A request's lines are in the log before its reply is sent.
check_log_view() {
    local first lines bar below
    for round in 1 2 3 4 5 6 7 8; do readme_request "view $round" >/dev/null; done
    read -r first lines bar <<<"$(driver log | tr -d '\r')"
    [ "$bar" = 1 ] || fail "no scroll bar with $lines lines in the log"
    # The lines from the first in sight to the end, while the view is at the bottom.
    below=$((lines - first))
    driver show maximize
    read -r first lines bar <<<"$(driver log | tr -d '\r')"
    [ "$first $bar" = "0 0" ] || fail "maximized, the log does not show its $lines lines whole"
    driver show restore
    read -r first lines bar <<<"$(driver log | tr -d '\r')"
    [ $((lines - first)) = "$below" ] ||
        fail "restored, the log shows line $first of $lines, not its newest"
    readme_request "after the restore" >/dev/null
    read -r first lines bar <<<"$(driver log | tr -d '\r')"
    [ $((lines - first)) = "$below" ] ||
        fail "restored, the log no longer follows new lines: line $first of $lines in sight"
    driver scroll top
    driver show minimize
    readme_request "minimized" >/dev/null
    driver show restore
    read -r first lines bar <<<"$(driver log | tr -d '\r')"
    [ "$first" = 0 ] || fail "the log scrolled to its top moved to line $first while minimized"
    driver scroll bottom
}

option() {
    sed -n "s/^$1=\\([^\r]*\\)\r\\?$/\\1/p" "$settings"
}

start_bridge
# The README's example request; its reply as the README prints it.
reply=$(readme_request)
expected=$(readme_reply)
[ -n "$expected" ] || fail "the README's example reply was not found"
[ "$reply" = "$expected" ] || fail "reply $reply, the README shows $expected"
check_log_view

driver command $hex_command
driver command $set_command
# A second request, now with its frames in hexadecimal and its link parameters.
readme_request hex >/dev/null
driver command $error_command

# Two pages ask; the operator answers from the keyboard, the bar taking no answer in its first
# half second: Tab to "Разрешить" and Space for the first, Alt+З for the second.
code_for_origin() {
    readme_request page "$1" | sed -n 's/.*"error_code":\([0-9]*\).*/\1/p'
}
[ "$(code_for_origin https://first.example)" = 127 ] || fail "the first page was not put to the operator"
[ "$(code_for_origin https://second.example)" = 127 ] || fail "the second page was not put to the operator"
driver keys tab allow 10000 || fail "Tab and Space did not answer the first page"
driver keys access deny 10000 || fail "Alt+З did not answer the second page"
[ "$(code_for_origin https://first.example)" = 0 ] || fail "the page allowed from the keyboard is not served"
[ "$(code_for_origin https://second.example)" = 125 ] || fail "the page denied from the keyboard is served"

# The start at login, from the window's menu and from the tray icon's.
wine_run 30 reg delete "$run_key" /v modbus-bridge /f </dev/null >/dev/null 2>&1 || true
driver command $start_at_login_command
wait_run_value '"*\modbus-bridge.exe" --minimized'
[[ $(run_value) == "\"$(winepath -w "$work" 2>/dev/null)\\"* ]] ||
    fail "the Run value does not name this copy: $(run_value)"
driver tray $tray_start_at_login_command
wait_run_value ''
# The sites dialog from the menu ("Сервис" → "Сайты…"), over the two pages just answered, in the
# order of their names: a site typed and added is served, refused from its row it is not,
# forgotten it is asked about again; each from its next request, and in [Origins] at once.
driver dialog open $sites_command 10000 || fail "the sites dialog did not open"
[ "$(driver dialog rows | tr -d '\r')" = 2 ] || fail "the sites dialog does not list the two pages"
driver dialog type https://typed.example
driver dialog press $add_button
message=$(driver dialog message | tr -d '\r')
[ "$message" = "https://typed.example разрешён: записано в [Origins], действует со следующего запроса" ] ||
    fail "adding a site says: $message"
grep -q '^https://typed.example=1' "$settings" || fail "the site added is not in [Origins]"
[ "$(code_for_origin https://typed.example)" = 0 ] || fail "the site added is not served"
driver dialog choose 2
driver dialog press $refuse_button
grep -q '^https://typed.example=0' "$settings" || fail "the site refused is not so in [Origins]"
[ "$(code_for_origin https://typed.example)" = 125 ] || fail "the site refused is served"
driver dialog choose 2
driver dialog press $forget_button
if grep -q '^https://typed.example=' "$settings"; then fail "the site forgotten is in [Origins]"; fi
[ "$(code_for_origin https://typed.example)" = 127 ] ||
    fail "the site forgotten is not put to the operator again"
driver dialog close 10000 || fail "the sites dialog did not close"
# The ports dialog: COM1 leads to the simulator's COM port, which is no device that Windows
# installed (wine installs none).
driver dialog open $ports_command 10000 || fail "the ports dialog did not open"
[ "$(driver dialog rows | tr -d '\r')" = 1 ] || fail "the ports dialog does not list COM1's line"
driver dialog close 10000 || fail "the ports dialog did not close"

saved="$work/Мост/save"
driver save log.rtf 30000 || fail "the log was not saved as RTF through the save dialog"
driver save log.txt 30000 || fail "the log was not saved as text through the save dialog"
stop_bridge close
grep -q '^https://first.example=1' "$settings" || fail "the first answer was not kept: $(cat "$settings")"
grep -q '^https://second.example=0' "$settings" || fail "the second answer was not kept: $(cat "$settings")"
for name in ViewError ViewSet ViewHex; do
    [ "$(option $name)" = 1 ] || fail "$name was not stored: $(cat "$settings")"
done
[ "$(option WindowsWidth)" = 600 ] || fail "the placement was not stored: $(cat "$settings")"

"$twin" "$saved/log.txt" "$saved/log.rtf" || fail "the saved files are not this build's bytes"
# The second request's frames, in hexadecimal, in Windows-1251 text.
grep -q $'\t>> READ_HOLDING_REGISTER 010300000002C40B\r$' "$saved/log.txt" ||
    fail "no request line with its frame in the saved text"

# Started again: the options are on from the start. "Только ошибки" says so in the start lines
# (the other two lines are left out then); taken off from the menu, a request shows the other
# two at work. A logout ends it, with its settings written.
sed -i '/^WindowsWidth=/d' "$settings"
start_bridge
driver command $error_command
readme_request restart >/dev/null
driver save restart.txt 30000 || fail "the log was not saved after the restart"
stop_bridge endsession
[ "$(option WindowsWidth)" = 600 ] || fail "the placement was not stored at the logout"
[ "$(option ViewError)" = 0 ] || fail "ViewError taken off was not stored: $(cat "$settings")"
in_saved() {
    grep -q "$(printf '%s' "$1" | iconv -f UTF-8 -t CP1251)" "$saved/restart.txt"
}
in_saved 'Показывать Только ошибки: Включено' || fail "after the restart errors only is not on"
in_saved 'Адрес: 1, Скорость: 19200 бод, Порт: COM1' ||
    fail "after the restart the link parameters are not shown"
in_saved '>> READ_HOLDING_REGISTER 010300000002C40B' ||
    fail "after the restart the frames are not shown in hexadecimal"

# Started at login: hidden in the tray (the shell took the icon), brought by a click on it.
start_bridge --minimized
[ "$(driver state 30000 | tr -d '\r')" = hidden ] || fail "started with --minimized, the window is shown"
driver trayclick
deadline=$((SECONDS + 20))
until [ "$(driver state 1000 | tr -d '\r')" = shown ]; do
    [ $SECONDS -lt $deadline ] || fail "a click on the tray icon did not show the window"
    sleep 0.2
done

# One copy: a start at login leaves the window hidden in the tray as it is; a start by hand
# brings it into sight; both end at once with 0, and one window is left.
driver show minimize
[ "$(driver state 1000 | tr -d '\r')" = hidden ] || fail "minimized, the window did not hide in the tray"
wine_run 60 "$program" --minimized </dev/null || fail "a second start at login ended with $?"
[ "$(driver state 1000 | tr -d '\r')" = hidden ] || fail "a second start at login showed the window"
wine_run 60 "$program" </dev/null || fail "a second start ended with $?"
[ "$(driver state 1000 | tr -d '\r')" = shown ] || fail "a second start did not bring the window"
[ "$(driver windows | tr -d '\r')" = 1 ] || fail "more than one window after a second start"

# modbus-bridged.exe beside the window names it as the port's holder, from its marker.
set +e
wine_run 60 "$build/modbus-bridged.exe" </dev/null >/dev/null 2>"$work/bridged.err"
bridged_status=$?
set -e
bridged_line=$(tr -d '\r' <"$work/bridged.err")
[ $bridged_status = 1 ] || fail "modbus-bridged beside the window ended with $bridged_status"
[[ $bridged_line == *"порт 19284 занят программой modbus-bridge (окно) ("* ]] ||
    fail "modbus-bridged did not name the window: $bridged_line"

# A first copy that was killed keeps no later start out.
wine_run 30 taskkill /f /im modbus-bridge.exe </dev/null >/dev/null 2>&1 || true
wait "$bridge" || true
bridge=""
start_bridge
stop_bridge close

# The window started while modbus-bridged.exe serves names it in its line about the taken port.
wine_run 120 "$build/modbus-bridged.exe" </dev/null >"$work/bridged.out" 2>&1 &
bridged=$!
deadline=$((SECONDS + 30))
until grep -q 'Сервер слушает порт 19284' "$work/bridged.out"; do
    [ $SECONDS -lt $deadline ] || fail "modbus-bridged did not listen: $(cat "$work/bridged.out")"
    sleep 0.2
done
start_bridge
driver save holder.txt 30000 || fail "the log was not saved beside modbus-bridged"
grep -q "$(printf 'порт 19284 занят программой modbus-bridged (' | iconv -f UTF-8 -t CP1251)" \
    "$saved/holder.txt" || fail "the window did not name modbus-bridged: $(iconv -f CP1251 -t UTF-8 "$saved/holder.txt")"
stop_bridge close
wine_run 30 taskkill /im modbus-bridged.exe </dev/null >/dev/null 2>&1 ||
    fail "modbus-bridged was not asked to end"
wait "$bridged" || fail "modbus-bridged ended with $?"
bridged=""
echo "window-program-test: passed"
