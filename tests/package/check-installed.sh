#!/usr/bin/env bash
# Installs the Debian package, uses it as a new user would and removes it again:
#   - a new unprivileged user in dialout, with an empty home, runs the window offscreen against
#     modbus-sim: a request is answered, SIGTERM ends the program within 2 s, and the settings
#     file (created with its folder by the program) keeps the placement and the COM map;
#   - a second run reads the options back, on a display of its own (Xvfb), where the log is saved
#     as an operator saves it (xdotool: the menu, the save dialog) into the documents folder;
#     and "Файл" → "Запускать при входе в систему" writes the user's autostart entry;
#   - modbus-bridged through its systemd unit, where systemd runs;
#   - apt-get purge leaves nothing under /usr that no other package owns, and removes the
#     user's autostart entry that names the packaged window, but not another user's entry that
#     names another copy of it.
# Needs root (apt-get, useradd). Ends with 77 (skipped) where it cannot run.
#   check-installed.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
port=19284
skip=77

fail() {
    echo "check-installed: FAIL: $*" >&2
    exit 1
}
say() { echo "check-installed: $*"; }

[ "$(id -u)" -eq 0 ] || { say "skipped: installing a package and adding a user need root"; exit $skip; }
if dpkg-query -W -f='${Status}' modbus-bridge 2>/dev/null | grep -q 'install ok'; then
    say "skipped: modbus-bridge is installed on this machine already and is left alone"
    exit $skip
fi
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    holder=$(ss -ltnpH "sport = :$port" 2>/dev/null || echo "(ss is not installed)")
    fail "port $port is taken before the test: $holder"
fi

work=$(mktemp -d /tmp/check-installed-XXXXXX)
chmod 755 "$work"
user=mbpkg$$
other_user=mbpko$$
home=$work/home
other_home=$work/other-home
started=()
installed=no
service_config_made=no

cleanup() {
    local status=$?
    for pid in "${started[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [ "$service_config_made" = yes ]; then
        systemctl stop modbus-bridged 2>/dev/null || true
        rm -rf /etc/modbus-bridged
        systemctl reset-failed modbus-bridged 2>/dev/null || true
    fi
    if id "$user" >/dev/null 2>&1; then userdel --force "$user" || true; fi
    if id "$other_user" >/dev/null 2>&1; then userdel --force "$other_user" || true; fi
    if [ "$installed" = yes ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -q modbus-bridge >/dev/null 2>&1 || true
    fi
    if [ "$service_config_made" = yes ]; then systemctl daemon-reload || true; fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

# The package, as CI builds it.
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null) ||
    fail "cpack failed"
deb=$(ls "$work"/out/modbus-bridge_*.deb) || fail "no package written"
touch "$work/before-install"
installed=yes
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb" \
    >"$work/apt-install.log" 2>&1 || { cat "$work/apt-install.log" >&2; fail "apt-get install"; }
packaged=$(dpkg -L modbus-bridge)
for program in modbus-bridge modbus-bridged modbus-sim; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
done

# A new user as a plant PC has one: in dialout, nothing in the home folder yet.
useradd --no-create-home --home-dir "$home" --groups dialout --shell /usr/sbin/nologin "$user"
mkdir -m 700 "$home" "$work/runtime"
chown "$user:" "$home" "$work/runtime"
uid=$(id -u "$user")
gid=$(id -g "$user")
# Runs a program as the user in place of the calling shell: start it in the background (&), so
# that $! is the program itself.
as_user() {
    exec setpriv --reuid="$uid" --regid="$gid" --init-groups \
        env -i HOME="$home" USER="$user" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/runtime" \
        QT_QPA_PLATFORM=offscreen "$@"
}
settings=$home/.config/modbus-bridge/modbus-bridge.ini
documents=$home/Documents/modbus-bridge

# --help names the file each installed program reads, before anything starts: the user's own,
# and the service's where its unit sets XDG_CONFIG_HOME=/etc.
help_names() {
    local help
    help=$(as_user "${@:2}" --help) || fail "${*:2} --help ended with status $?"
    grep -qxF "Settings file: $1" <<<"$help" || fail "${*:2} --help names another settings file: $help"
}
help_names "$settings" /usr/bin/modbus-bridge
help_names "$home/.config/modbus-bridged/modbus-bridged.ini" /usr/bin/modbus-bridged
help_names /etc/modbus-bridged/modbus-bridged.ini env XDG_CONFIG_HOME=/etc /usr/bin/modbus-bridged
[ ! -e "$home/.config" ] || fail "--help made $home/.config"

# The simulated device, as the user, so that its pseudo-terminal is the user's. It prints its
# port's path first; the pipe stays open for the rest of its output.
mkfifo "$work/sim.out"
as_user /usr/bin/modbus-sim --link "$home/sim-port" >"$work/sim.out" 2>&1 &
started+=($!)
exec 4<"$work/sim.out"
read -r -t 10 sim_pty <&4 || fail "modbus-sim printed no port"
say "modbus-sim on $sim_pty"

wait_listening() {
    local deadline=$((SECONDS + 15))
    until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
        kill -0 "$1" 2>/dev/null || fail "$2 ended before it listened: $(cat "$work/$2.err")"
        [ $SECONDS -lt $deadline ] || fail "$2 does not listen on port $port"
        sleep 0.05
    done
}

# SIGTERM, then the time until the process has ended (a zombie has ended; wait reaps it).
stop_within_2s() {
    local pid=$1 name=$2 start end state
    start=$(date +%s%N)
    kill -TERM "$pid"
    local deadline=$((SECONDS + 10))
    while state=$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null) && [ "$state" != Z ]; do
        [ $SECONDS -lt $deadline ] || { kill -KILL "$pid"; fail "$name hangs after SIGTERM"; }
        sleep 0.01
    done
    end=$(date +%s%N)
    local status=0
    wait "$pid" || status=$?
    say "$name ended with status $status"
    local ms=$(((end - start) / 1000000))
    say "$name ended $ms ms after SIGTERM"
    [ "$ms" -le 2000 ] || fail "$name took $ms ms to end after SIGTERM (at most 2000)"
}

request() {
    curl -s --max-time 10 -H 'Expect:' --data-urlencode \
        'json_data={"company_id":1,"device_id":1,"slave_addr":1,"baud_rate":19200,"com_port":1,"poll_ms":1000,"timeout_ms":500,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,"ctrl_invert":false,"rand_string":"pkg","pdu":{"read":[3,0,7,0,2]}}' \
        "http://localhost:$port/"
}
expect_answer() {
    local reply=$1
    [[ $reply == *'"data":{"7":7,"8":8}'* && $reply == *'"status":"ok"'* ]] ||
        fail "$2: unexpected reply: $reply"
}

# First start in the empty home: the program makes its configuration folder when it closes.
as_user /usr/bin/modbus-bridge >"$work/first.out" 2>"$work/first.err" &
pid=$!
started+=("$pid")
wait_listening "$pid" first
stop_within_2s "$pid" "the first window"
[ -f "$settings" ] || fail "no settings file $settings after the first close: $(cat "$work/first.err")"
grep -q '^WindowsWidth=' "$settings" || fail "the placement was not stored: $(cat "$settings")"
printf '[Ports]\nCOM1=%s\n' "$home/sim-port" >>"$settings"

# Second start: a request through COM1 of the user's settings file.
as_user /usr/bin/modbus-bridge >"$work/second.out" 2>"$work/second.err" &
pid=$!
started+=("$pid")
wait_listening "$pid" second
expect_answer "$(request)" "the window"
stop_within_2s "$pid" "the window after a request"
grep -q "^COM1=$home/sim-port" "$settings" || fail "the COM map was lost: $(cat "$settings")"
grep -q '^WindowsTop=' "$settings" || fail "the placement was lost: $(cat "$settings")"
[ -z "$(find "$(dirname "$settings")" -name '*.new-*')" ] || fail "a temporary settings file is left"

# Third start reads the options back; on a display, the operator saves the start lines through
# the menu and the save dialog, which starts in the documents folder.
sed -i 's/^ViewSet=0/ViewSet=1/' "$settings"
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset -ac 3>"$work/display" >/dev/null 2>&1 &
started+=($!)
read -r -t 10 display_number <"$work/display" || fail "Xvfb did not start"
display=:$display_number
operator() { DISPLAY=$display timeout 30 xdotool "$@"; }
# The window of that name once it is shown on the display. xdotool gives up when a window goes
# while it looks (Qt makes and drops windows of its own), so it looks again.
shown_window() {
    local deadline=$((SECONDS + 15)) found=""
    until found=$(operator search --onlyvisible --name "$1" 2>/dev/null | head -n 1) &&
        [ -n "$found" ]; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.05
    done
    echo "$found"
}
as_user env DISPLAY="$display" QT_QPA_PLATFORM=xcb /usr/bin/modbus-bridge \
    >"$work/third.out" 2>"$work/third.err" &
pid=$!
started+=("$pid")
wait_listening "$pid" third
window=$(shown_window 'RAVO Duridur') ||
    fail "the window did not appear on the display: $(cat "$work/third.err")"
operator windowfocus --sync "$window"
# "Файл" at the left of the menu bar; its first item is "Сохранить".
operator mousemove --window "$window" 20 10 click 1 key Down Return
dialog=$(shown_window 'Save As') || fail "no save dialog"
operator windowfocus --sync "$dialog" type --delay 20 started.txt
operator key Return
deadline=$((SECONDS + 15))
until [ -s "$documents/started.txt" ]; do
    [ $SECONDS -lt $deadline ] || fail "no saved log in $documents: $(cat "$work/third.err")"
    sleep 0.05
done
# The second item of "Файл": the entry that starts the window at login.
operator windowfocus --sync "$window"
operator mousemove --window "$window" 20 10 click 1 key Down Down Return
autostart=$home/.config/autostart/modbus-bridge.desktop
deadline=$((SECONDS + 15))
until [ -s "$autostart" ]; do
    [ $SECONDS -lt $deadline ] || fail "no autostart entry $autostart: $(cat "$work/third.err")"
    sleep 0.05
done
grep -qxF 'Exec="/usr/bin/modbus-bridge" --minimized' "$autostart" ||
    fail "the autostart entry does not start the packaged window: $(cat "$autostart")"
stop_within_2s "$pid" "the window after a save"
saved=$(iconv -f CP1251 -t UTF-8 "$documents/started.txt")
grep -q 'Показывать Параметры связи: Включено' <<<"$saved" ||
    fail "the saved log does not show the option read back: $saved"
grep -q '^ViewSet=1' "$settings" || fail "the option was not kept: $(cat "$settings")"
[ ! -e /usr/bin/save ] || fail "a save folder appeared in /usr/bin"
say "the window: request answered, settings kept, options read back, log saved in $documents"

# The service, where systemd runs this machine.
if [ "$(cat /proc/1/comm)" = systemd ]; then
    # The service's user is in dialout; the simulator's terminal is made reachable for that group.
    chgrp dialout "$sim_pty" && chmod 660 "$sim_pty"
    service_config_made=yes
    mkdir -p /etc/modbus-bridged
    printf '[Ports]\nCOM1=%s\n' "$sim_pty" >/etc/modbus-bridged/modbus-bridged.ini
    # The package has no maintainer scripts; systemd learns of the new unit here.
    systemctl daemon-reload
    systemctl start modbus-bridged || fail "systemctl start modbus-bridged"
    service_pid=$(systemctl show -p MainPID --value modbus-bridged)
    deadline=$((SECONDS + 15))
    until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the service does not listen: $(journalctl -u modbus-bridged -n 20 --no-pager)"
        sleep 0.05
    done
    expect_answer "$(request)" "the service"
    # systemctl reload reads the sites again (ExecReload sends SIGHUP) and the service goes on.
    printf '[Ports]\nCOM1=%s\n[Origins]\nhttps://scada.example=1\n' "$sim_pty" \
        >/etc/modbus-bridged/modbus-bridged.ini
    systemctl reload modbus-bridged || fail "systemctl reload modbus-bridged"
    deadline=$((SECONDS + 5))
    until journalctl -u modbus-bridged --no-pager | grep -q 'разрешено сайтов: 1'; do
        [ $SECONDS -lt $deadline ] || fail "no reload line: $(journalctl -u modbus-bridged -n 20 --no-pager)"
        sleep 0.05
    done
    [ "$(systemctl show -p MainPID --value modbus-bridged)" = "$service_pid" ] ||
        fail "systemctl reload restarted the service"
    start=$(date +%s%N)
    systemctl stop modbus-bridged
    ms=$((($(date +%s%N) - start) / 1000000))
    say "the service (pid $service_pid) stopped in $ms ms"
    [ "$ms" -le 2000 ] || fail "the service took $ms ms to stop"
    [ "$(systemctl show -p Result --value modbus-bridged)" = success ] ||
        fail "the service did not end cleanly: $(journalctl -u modbus-bridged -n 20 --no-pager)"
else
    say "skipped the service part: systemd is not PID 1 on this machine ($(cat /proc/1/comm))"
fi

# Another user's entry for a copy of the window elsewhere, which the removal must leave.
useradd --no-create-home --home-dir "$other_home" --shell /usr/sbin/nologin "$other_user"
mkdir -p "$other_home/.config/autostart"
printf '[Desktop Entry]\nType=Application\nExec="/opt/bridge/modbus-bridge" --minimized\n' \
    >"$other_home/.config/autostart/modbus-bridge.desktop"
chown -R "$other_user:" "$other_home"

# Removal: nothing of the package, and nothing the programs made, stays under /usr.
for pid in "${started[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
started=()
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 modbus-bridge >"$work/apt-purge.log" 2>&1 ||
    { cat "$work/apt-purge.log" >&2; fail "apt-get purge"; }
installed=no
left=()
while IFS= read -r path; do
    if [ -e "$path" ] && [ ! -d "$path" ] && ! dpkg -S "$path" >/dev/null 2>&1; then
        left+=("$path")
    fi
done <<<"$packaged"
# Files made under /usr since the install that no package owns; caches that triggers of other
# packages rebuild (icons, desktop entries) are theirs.
while IFS= read -r path; do
    case "$path" in
    *.cache) continue ;;
    esac
    dpkg -S "$path" >/dev/null 2>&1 || left+=("$path")
done < <(find /usr -xdev -newer "$work/before-install" ! -type d 2>/dev/null)
[ ${#left[@]} -eq 0 ] || fail "left under /usr after purge: ${left[*]}"
[ ! -e "$autostart" ] || fail "the autostart entry of the removed window is left: $autostart"
[ -f "$other_home/.config/autostart/modbus-bridge.desktop" ] ||
    fail "the removal took another copy's autostart entry"
say "$(basename "$deb"): installed, used by a new user, purged without a trace under /usr"
