#!/usr/bin/env bash
# Sets up a fresh machine, builds the project and starts the simulated device on a
# pseudo-terminal. Extra arguments go to modbus-sim (see build/modbus-sim --help).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target modbus-sim

port_link=${MODBUS_SIM_LINK:-/tmp/modbus-sim-port}
echo "modbus-sim: slave 1 on ${port_link}; stop it with Ctrl+C"
exec build/modbus-sim --link "$port_link" --verbose "$@"
