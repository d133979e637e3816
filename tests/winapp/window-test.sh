#!/usr/bin/env bash
# Runs a Windows program that makes windows under wine, on an X display of its own (Xvfb), which
# ends with it. Wine's desktop process of the prefix follows the display it was started on and
# ends with it, so only one such run goes at a time (ctest: RESOURCE_LOCK wine_desktop).
#
#   tests/winapp/window-test.sh BUILD_FOLDER PROGRAM.exe [ARGUMENTS]
set -euo pipefail
build=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)

work=$(mktemp -d)
cleanup() {
    if [ -n "${xvfb:-}" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it takes connections.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
if ! read -r -t 30 number <"$work/display"; then
    echo "window-test: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
# Wine leaves its windows to a window manager unless told otherwise, and with none on this display
# it waits two seconds for one whenever a window is hidden: the prefix's windows are wine's own.
source "$root/tools/wine-env.sh" "$build"
wine_env_start
wine_run 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
DISPLAY=:$number wine_run "${WINE_RUN_TIMEOUT:-600}" "$@"
