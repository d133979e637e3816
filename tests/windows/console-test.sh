#!/usr/bin/env bash
# Runs a Windows test program under wine in a console: a pseudo-terminal (script) gives wine's
# console; the wine environment gives the display for top-level windows.
#
#   console-test.sh <build folder> <test program> [test arguments]
set -euo pipefail
build=$1
shift
command="$(printf '%q ' "$(dirname "$0")/../../tools/wine-run.sh" "$build" "$@")"
# script's own output is the console's, cursor sequences and all; the exit status is the test's.
exec timeout 300 script -qec "$command" /dev/null </dev/null
