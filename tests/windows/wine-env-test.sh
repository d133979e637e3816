#!/usr/bin/env bash
# tools/wine-env.sh ends the display server that it started and nothing else: once that server
# is gone, the system may have given its stored pid to another program.
#
#   tests/windows/wine-env-test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(mktemp -d)
victim=""
xvfb=""
cleanup() {
    for pid in $victim $xvfb; do kill -KILL "$pid" 2>/dev/null || true; done
    rm -rf "$build"
}
trap cleanup EXIT
failures=0
fail() {
    echo "wine-env-test: $*" >&2
    failures=$((failures + 1))
}

# wine_env_stop of a build folder whose display file names this display number, pid and, where
# given, start time (a file of an older wine-env.sh has none).
stop_with() {
    echo "$*" >"$build/wine-display"
    (source "$root/tools/wine-env.sh" "$build" && wine_env_stop)
    [ ! -e "$build/wine-display" ] || fail "the display file stayed after the stop"
}

# The other program: a process of ours, so that its end status says who ended it. A SIGTERM
# without a handler decides the status the moment it is sent; the SIGKILL after it changes
# nothing then, and decides it otherwise.
start_victim() {
    sleep 300 &
    victim=$!
}
expect_victim_spared() {
    kill -KILL "$victim" 2>/dev/null || true
    local status=0
    { wait "$victim"; } 2>/dev/null || status=$?
    victim=""
    [ "$status" -eq $((128 + 9)) ] || fail "$1: the other program was ended (status $status)"
}

fifo=$build/displayfd
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 320x200x24 -nolisten tcp </dev/null >/dev/null 2>&1 3>"$fifo" &
xvfb=$!
disown "$xvfb"
number=""
read -r -t 30 number <"$fifo" || true
[ -n "$number" ] || { echo "wine-env-test: Xvfb did not start" >&2; exit 1; }

started=$(source "$root/tools/wine-env.sh" "$build" && wine_env_start_time "$xvfb")
[ -n "$started" ] || fail "no start time for the display's server"

for stored in "$number VICTIM" "$number VICTIM $started" "99999 VICTIM"; do
    start_victim
    stop_with ${stored/VICTIM/$victim}
    expect_victim_spared "another program's pid stored as '$stored'"
done
# Another Xvfb than the one started: a display server of the same program, started later.
stop_with "$number" "$xvfb" $((started + 1))
kill -0 "$xvfb" 2>/dev/null || fail "an Xvfb started at another time was ended"

stop_with "$number" "$xvfb" "$started"
if timeout 20 tail --pid="$xvfb" -f /dev/null; then
    xvfb=""
else
    fail "the display's own server was not ended"
fi

exit $((failures > 0))
