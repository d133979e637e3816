#!/usr/bin/env bash
# Sets up a fresh machine and runs every test three times: in the normal build, in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, and under ThreadSanitizer (all but the window
# and what tests only the page or the package); every fuzz target runs briefly, and the
# benchmarks print their figures. Then the Windows build (mingw-w64) and its tests under wine, and
# the Linux build's tests that drive the Windows programs.
# A missing test-only tool is an error here, not a skip.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh
tools/setup-web.sh
tools/check-format.sh

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMODBUS_BRIDGE_WERROR=ON \
    -DMODBUS_BRIDGE_REQUIRE_TEST_DEPS=ON
cmake --build build -j "$jobs"
# The tests of the Windows programs (label windows) run after the Windows build, below.
ctest --test-dir build --output-on-failure -j "$jobs" -LE windows

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMODBUS_BRIDGE_WERROR=ON \
    -DMODBUS_BRIDGE_SANITIZE=ON -DMODBUS_BRIDGE_BENCH=OFF -DMODBUS_BRIDGE_REQUIRE_TEST_DEPS=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The threads under ThreadSanitizer: requests, disconnects and stops racing, in the tests and in
# the programs they start. Each process writes its reports to tsan-report.<pid>, so a race in a
# started bridge fails the run too, not only one in a test's own process.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMODBUS_BRIDGE_WERROR=ON \
    -DMODBUS_BRIDGE_TSAN=ON -DMODBUS_BRIDGE_BENCH=OFF -DMODBUS_BRIDGE_REQUIRE_TEST_DEPS=ON
cmake --build build-tsan -j "$jobs"
rm -f build-tsan/tsan-report.*
tsan_status=0
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$PWD/build-tsan/tsan-report" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" || tsan_status=$?
if compgen -G 'build-tsan/tsan-report.*' >/dev/null; then
    cat build-tsan/tsan-report.*
    tsan_status=1
fi
[ "$tsan_status" -eq 0 ]

# A short run of every fuzz target over its seed corpus (clang, ASan+UBSan, build-fuzz/).
tools/fuzz.sh 20

# Figures only: the benchmarks' goals are read by people, not asserted.
build/bench-receiver
build/bench-log
build/bench-log --window
build/bench-log --days 30
build/bench-e2e
build/bench-e2e --queue
# Reads while processes spin on every processor: no answer may be lost (no error 123).
python3 bench/load.py --bridged build/modbus-bridged --sim build/modbus-sim --requests 1000 --busy 4

# The Windows build and its tests under wine; the wineserver it starts ends with this script.
# Then the Linux build's tests of the Windows programs, which the configure step adds now that
# build-windows exists: the end-to-end cases and the documents' request examples against
# modbus-bridged.exe, and the overhead under wine beside Linux's, for information.
windows_start=$SECONDS
tools/build-windows.sh
source tools/wine-env.sh build-windows
trap wine_env_stop EXIT
ctest --test-dir build-windows --output-on-failure -j "$jobs"
cmake build >/dev/null
ctest --test-dir build --output-on-failure -L windows
build/bench-e2e --windows-build build-windows
echo "test.sh: Windows build and tests took $((SECONDS - windows_start)) s"
