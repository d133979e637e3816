#!/usr/bin/env bash
# Sets up a fresh machine and runs every test twice: in the normal build and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer; the server tests run a third time under
# ThreadSanitizer, every fuzz target runs briefly, and the benchmarks print their figures.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh
tools/setup-web.sh
tools/check-format.sh

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMODBUS_BRIDGE_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMODBUS_BRIDGE_WERROR=ON \
    -DMODBUS_BRIDGE_SANITIZE=ON -DMODBUS_BRIDGE_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The server's threads under ThreadSanitizer: requests, disconnects and stops racing.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMODBUS_BRIDGE_WERROR=ON \
    -DMODBUS_BRIDGE_TSAN=ON -DMODBUS_BRIDGE_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target server_tests modbus-sim
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/server_tests

# A short run of every fuzz target over its seed corpus (clang, ASan+UBSan, build-fuzz/).
tools/fuzz.sh 20

# Figures only: the benchmarks' goals are read by people, not asserted.
build/bench-receiver
build/bench-log
build/bench-log --window
build/bench-log --days 30
build/bench-e2e
