#!/usr/bin/env bash
# Runs a Windows program under wine in the wine environment of a build folder, within a time-out
# (WINE_RUN_TIMEOUT seconds, 600 unless set). ctest and test discovery use it as the emulator; the
# tests that start modbus-bridged.exe start it through this script and end it with SIGINT, which
# wine turns into the console's Ctrl+C (SIGTERM would end the process at once).
#
#   tools/wine-run.sh build-windows build-windows/tests/link_tests.exe --gtest_brief=1
set -euo pipefail
source "$(dirname "$0")/wine-env.sh" "$1"
shift
wine_env_start
# In this script's place, so that a signal to it reaches the program: SIGINT is Ctrl+C there.
exec timeout --kill-after=5 "${WINE_RUN_TIMEOUT:-600}" wine "$@"
