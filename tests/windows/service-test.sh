#!/usr/bin/env bash
# modbus-bridged.exe as the Windows service under wine's service control manager: registered by
# --install-service, started with "net start", serving the README's request from modbus-sim
# behind COM27 with its settings and daily log in %ProgramData%\modbus-bridge, reading [Origins]
# again on --reload (the parameter change control), stopped within a second of "sc stop", and
# removed by --uninstall-service, its settings and logs kept. A start on a taken port and one
# whose settings cannot be read stop the service with their own exit codes, and the log says why.
# What wine cannot show (the Local Service account and its rights, the service's session) is in
# docs/windows.md.
#
#   tests/windows/service-test.sh WINDOWS_BUILD MODBUS_SIM
set -euo pipefail
build=$(cd "$1" && pwd)
sim_program=$2
com=27
source "$(dirname "$0")/../support/wine_bridge_test.sh"
wine_bridge_test_begin "$build"
work=$(mktemp -d)
sim=""
console=""
installed=""
program="$work/Служба/modbus-bridged.exe"
data=$(winepath -u "$(wine_run 30 cmd /c 'echo %ProgramData%' </dev/null | tr -d '\r')\\modbus-bridge")
cleanup() {
    # Never left registered: wine starts a service of automatic start with its next server, and
    # that one would hold the port outside every test's turn.
    wine_run 60 "$program" --uninstall-service </dev/null >/dev/null 2>&1 || true
    if [ -n "$console" ]; then kill "$console" 2>/dev/null || true; fi
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; fi
    rm -f "$WINEPREFIX/dosdevices/com$com"
    rm -rf "$work" "$data" ${installed:+"$installed"}
    wine_run 30 reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\modbus-bridge' \
        /f </dev/null >/dev/null 2>&1 || true
}
trap cleanup EXIT
rm -rf "$data"

mkdir -p "$(dirname "$program")"
cp "$build/modbus-bridged.exe" "$program"
wine_bridge_sim $com "$sim_program" "$work"

sc() {
    wine_run 30 sc "$@" </dev/null 2>&1 | tr -d '\r'
}
# "STATE WIN32_EXIT_CODE SERVICE_EXIT_CODE" of the service, as numbers.
status() {
    sc query modbus-bridged | awk '/STATE/ {s=$3} /WIN32_EXIT_CODE/ {w=$3} /SERVICE_EXIT_CODE/ {e=$3}
        END {print s, w, e}'
}
# Waits until the service is in the state (1 stopped, 4 running); the time it took in ms.
wait_for_state() {
    local start=$1 state=$2 deadline=$((SECONDS + 15))
    until [ "$(status | cut -d' ' -f1)" = "$state" ]; do
        [ $SECONDS -lt $deadline ] || fail "the service is not in state $state: $(sc query modbus-bridged)"
    done
    echo $((($(date +%s%N) - start) / 1000000))
}
log_has() {
    local deadline=$((SECONDS + 10))
    until cat "$data"/logs/*.txt 2>/dev/null | iconv -f cp1251 -t utf-8 | grep -qF "$1"; do
        [ $SECONDS -lt $deadline ] || fail "the service's log has no line '$1'"
        sleep 0.05
    done
}

wine_run 60 "$program" --install-service </dev/null >"$work/install.out" 2>&1 ||
    fail "--install-service ended with $?: $(cat "$work/install.out")"
[ "$(grep -c . "$work/install.out")" = 1 ] &&
    grep -q "the service modbus-bridged is registered" "$work/install.out" ||
    fail "--install-service said: $(cat "$work/install.out")"
# Never started yet: 1077.
[ "$(status)" = "1 1077 0" ] || fail "a new service is not stopped: $(status)"
[ -d "$data/logs" ] || fail "--install-service made no $data/logs"
printf '[Ports]\r\nCOM1=\\\\.\\COM%s\r\n[Origins]\r\nhttps://a.example=1\r\n' $com \
    >"$data/modbus-bridged.ini"

start=$(date +%s%N)
wine_run 30 net start modbus-bridged </dev/null >/dev/null 2>&1 || fail "net start ended with $?"
echo "running after $(wait_for_state "$start" 4) ms"
[ "$(readme_request)" = "$(readme_reply)" ] || fail "the README's request was not served"
[ "$(readme_request demo https://a.example | sed 's/.*"error_code":\([0-9]*\).*/\1/')" = 0 ] ||
    fail "the listed site was not served"
log_has "Сервер слушает порт 19284"
log_has ">> READ_HOLDING_REGISTER"

# The site taken out of the file is refused after --reload, without a restart.
printf '[Ports]\r\nCOM1=\\\\.\\COM%s\r\n' $com >"$data/modbus-bridged.ini"
wine_run 30 "$program" --reload </dev/null || fail "--reload ended with $?"
log_has "modbus-bridged.ini: разрешено сайтов: 0"
[ "$(readme_request demo https://a.example | sed 's/.*"error_code":\([0-9]*\).*/\1/')" = 125 ] ||
    fail "the site taken out of the settings was still served"

start=$(date +%s%N)
sc stop modbus-bridged >/dev/null
took=$(wait_for_state "$start" 1)
echo "stopped ${took} ms after sc stop (each look at its state takes a run of sc)"
[ "$took" -lt 1500 ] || fail "the service took ${took} ms to stop"
[ "$(status)" = "1 0 0" ] || fail "a clean stop reads as $(status)"
! ss -ltnH "sport = :19284" | grep -q . || fail "the port is still held after the stop"

# A start on a taken port: the console copy holds it.
cp "$program" "$work/modbus-bridged.exe"
# Not through a function, so that SIGINT reaches timeout, which passes it to wine: Ctrl+C.
timeout --kill-after=5 60 wine "$work/modbus-bridged.exe" </dev/null >"$work/console.out" 2>&1 &
console=$!
deadline=$((SECONDS + 15))
until grep -q "Страница моста" "$work/console.out"; do
    [ $SECONDS -lt $deadline ] || fail "the console copy did not start: $(cat "$work/console.out")"
    sleep 0.05
done
start=$(date +%s%N)
wine_run 30 net start modbus-bridged </dev/null >/dev/null 2>&1 || true
wait_for_state "$start" 1 >/dev/null
[ "$(status)" = "1 1066 1" ] || fail "a taken port reads as $(status), not 1066 and 1"
log_has "Служба modbus-bridged остановлена: порт занят другой программой (код 1)"
kill -INT "$console"
wait "$console" || fail "the console copy ended with $?"
console=""

# Settings that cannot be read: the service does not run on the defaults.
rm "$data/modbus-bridged.ini"
mkdir "$data/modbus-bridged.ini"
start=$(date +%s%N)
wine_run 30 net start modbus-bridged </dev/null >/dev/null 2>&1 || true
wait_for_state "$start" 1 >/dev/null
[ "$(status)" = "1 1066 3" ] || fail "unreadable settings read as $(status), not 1066 and 3"
log_has "Служба modbus-bridged остановлена: файл настроек не прочитан (код 3)"
rmdir "$data/modbus-bridged.ini"

wine_run 60 "$program" --uninstall-service </dev/null >"$work/uninstall.out" 2>&1 ||
    fail "--uninstall-service ended with $?: $(cat "$work/uninstall.out")"
sc query modbus-bridged | grep -q STATE && fail "the service is still registered"
[ -d "$data/logs" ] || fail "the uninstall took the logs"

# The installer's component: /SERVICE=1 registers and starts the installed copy's service, and
# the uninstall removes it with the files.
setup=$build/modbus-bridge-setup.exe
if [ -f "$setup" ]; then
    printf '[Ports]\r\nCOM1=\\\\.\\COM%s\r\n' $com >"$data/modbus-bridged.ini"
    installed_windows="$(wine_run 30 cmd /c 'echo %ProgramFiles%' </dev/null | tr -d '\r')\\modbus-bridge"
    installed=$(winepath -u "$installed_windows")
    [ ! -e "$installed" ] || fail "$installed is there before the install"
    wine_run 120 "$setup" /S /SERVICE=1 </dev/null || fail "the silent install ended with $?"
    wait_for_state "$(date +%s%N)" 4 >/dev/null
    [ "$(readme_request)" = "$(readme_reply)" ] ||
        fail "the installed service did not serve the README's request"
    printf '@"%s\\uninstall.exe" /S _?=%s\r\n' "$installed_windows" "$installed_windows" \
        >"$work/uninstall.bat"
    wine_run 120 cmd /c "$(winepath -w "$work/uninstall.bat")" </dev/null ||
        fail "the silent uninstall ended with $?"
    sc query modbus-bridged | grep -q STATE && fail "the uninstall left the service registered"
    ! ss -ltnH "sport = :19284" | grep -q . || fail "the port is still held after the uninstall"
    rm -rf "$installed"
    echo "service-test: the installer's /SERVICE=1 started the service, its uninstall removed it"
fi
echo "service-test: installed, started, served, reloaded, stopped in ${took} ms, refused a taken port and unreadable settings with their codes, removed"
