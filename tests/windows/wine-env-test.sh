#!/usr/bin/env bash
# tools/wine-env.sh ends the display server that it started and nothing else: once that server
# is gone, the system may have given its stored pid to another program, even another Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT
failures=0

# Each row: the program that has the stored pid (sleep, or sleep under the name Xvfb), what the
# display file stores after the display number and the pid (nothing in a file of an older
# wine-env.sh; the right or a wrong start time), and how the program ends: spared, it is ended
# by our SIGKILL (137); ended by wine_env_stop's SIGTERM, which without a handler decides the
# status the moment it is sent (143).
rows=0
while read -r name stored expected <&3; do
    rows=$((rows + 1))
    if [ "$name" = Xvfb ]; then (exec -a Xvfb sleep 300) & else sleep 300 & fi
    pid=$!
    started=$(source "$root/tools/wine-env.sh" "$build" && wine_env_start_time "$pid")
    case $stored in right) stored=$started ;; wrong) stored=$((started + 1)) ;; none) stored="" ;; esac
    echo "0 $pid $stored" >"$build/wine-display"
    (source "$root/tools/wine-env.sh" "$build" && wine_env_stop)
    kill -KILL "$pid" 2>/dev/null || true
    status=0
    { wait "$pid"; } 2>/dev/null || status=$?
    if [ "$status" -ne "$expected" ] || [ -e "$build/wine-display" ]; then
        echo "wine-env-test: $name with start time '$stored': status $status, not $expected" >&2
        failures=$((failures + 1))
    fi
done 3<<'ROWS'
sleep none 137
sleep right 137
Xvfb wrong 137
Xvfb right 143
ROWS
[ "$rows" -eq 4 ] || { echo "wine-env-test: $rows rows of 4 ran" >&2; exit 1; }
exit $((failures > 0))
