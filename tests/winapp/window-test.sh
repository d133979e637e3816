#!/usr/bin/env bash
# Runs a Windows program that makes windows under wine, on an X display of its own that ends
# with it.
#
#   tests/winapp/window-test.sh BUILD_FOLDER PROGRAM.exe [ARGUMENTS]
set -euo pipefail
build=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/wine-env.sh" "$build"
source "$root/tools/wine-display.sh"
wine_env_start
trap wine_display_stop EXIT
wine_display_start
wine_run "${WINE_RUN_TIMEOUT:-600}" "$@"
