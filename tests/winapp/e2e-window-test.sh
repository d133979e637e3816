#!/usr/bin/env bash
# Runs a Linux test program that starts Windows programs with windows under wine, on an X display
# of its own that ends with it.
#
#   tests/winapp/e2e-window-test.sh WINDOWS_BUILD_FOLDER PROGRAM [ARGUMENTS]
set -euo pipefail
build=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/wine-env.sh" "$build"
source "$root/tools/wine-display.sh"
source "$root/tests/winapp/wine-desktop.sh"
wine_env_start
trap wine_display_stop EXIT
wine_display_start
wine_desktop_wait_free
"$@"
