#!/usr/bin/env bash
# Runs a Windows program under wine in the wine environment of a build folder, within a time-out
# (WINE_RUN_TIMEOUT seconds, 600 unless set). ctest and test discovery use it as the emulator.
#
#   tools/wine-run.sh build-windows build-windows/tests/link_tests.exe --gtest_brief=1
set -euo pipefail
source "$(dirname "$0")/wine-env.sh" "$1"
shift
wine_env_start
wine_run "${WINE_RUN_TIMEOUT:-600}" "$@"
