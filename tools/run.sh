#!/usr/bin/env bash
# Sets up a fresh machine, builds the project, starts the simulated device on a pseudo-terminal
# and runs the bridge on port 19284 with COM1 mapped to that device: the window where there is a
# display, modbus-bridged where there is none. Closing the window or Ctrl+C stops both.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target modbus-sim modbus-bridged modbus-bridge

port_link=${MODBUS_SIM_LINK:-/tmp/modbus-sim-port}
build/modbus-sim --link "$port_link" >/dev/null &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT

program=modbus-bridged
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then program=modbus-bridge; fi

# The settings file lives beside the program; a COM1 line the user wrote is kept.
settings=build/$program.ini
if ! grep -qi '^COM1=' "$settings" 2>/dev/null; then
    printf '[Ports]\nCOM1=%s\n' "$port_link" >>"$settings"
fi

cat <<TEXT
modbus-bridge: simulated slave 1 on COM1 (${port_link}), the bridge on http://localhost:19284/
Open the demo page that the bridge serves in a browser on this computer:
    http://localhost:19284/demo/
TEXT
build/$program
