#!/usr/bin/env bash
# Runs a Windows test program under wine in a console and with a display: a pseudo-terminal
# (script) gives wine's console, Xvfb (xvfb-run) the window station for top-level windows.
#
#   console-test.sh <build folder> <test program> [test arguments]
set -euo pipefail
build=$1
shift
command="$(printf '%q ' "$(dirname "$0")/../../tools/wine-run.sh" "$build" "$@")"
# script's own output is the console's, cursor sequences and all; the exit status is the test's.
exec timeout 300 xvfb-run -a script -qec "$command" /dev/null </dev/null
