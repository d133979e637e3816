#!/usr/bin/env bash
# Runs a Windows program that makes windows under wine, on the X display of the build's wine
# environment.
#
#   tests/winapp/window-test.sh BUILD_FOLDER PROGRAM.exe [ARGUMENTS]
set -euo pipefail
build=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/wine-env.sh" "$build"
wine_env_start
wine_run "${WINE_RUN_TIMEOUT:-600}" "$@"
