#!/usr/bin/env bash
# Takes docs/screenshot.png: the window under Xvfb after a few requests to the simulated device.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --build build --target modbus-bridge modbus-sim screen-grab >/dev/null
work=$(mktemp -d)
display=:${SCREENSHOT_DISPLAY:-95}
cleanup() {
    # The window closes before its display goes away.
    if [ -n "${bridge:-}" ]; then kill "$bridge" 2>/dev/null && wait "$bridge" 2>/dev/null || true; fi
    kill "${sim:-}" "${xvfb:-}" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
build/modbus-sim --device-type 0x0110 >"$work/sim.out" &
sim=$!
until [ -s "$work/sim.out" ]; do sleep 0.1; done
cp build/modbus-bridge "$work/"
cat >"$work/modbus-bridge.ini" <<INI
[Options]
WindowsLeft=0
WindowsTop=0
WindowsWidth=900
WindowsHeight=540
ViewSet=1
ViewHex=1
[Ports]
COM1=$(head -1 "$work/sim.out")
INI
DISPLAY=$display "$work/modbus-bridge" &
bridge=$!
# Ready when the port takes a connection; a probe request would write an error line.
until (exec 3<>/dev/tcp/127.0.0.1/19284) 2>/dev/null; do sleep 0.2; done

request() {
    curl -s -H 'Expect:' --data-urlencode "json_data={\"company_id\":1,\"device_id\":1,
\"slave_addr\":1,\"baud_rate\":19200,\"com_port\":1,\"poll_ms\":1000,\"timeout_ms\":500,
\"ctrl_echo\":false,\"ctrl_dtr\":false,\"ctrl_rts\":false,\"ctrl_invert\":false,
\"rand_string\":\"screenshot\",\"pdu\":$1}" http://127.0.0.1:19284/ >/dev/null
}
request '{"a":[3,0,0,0,4]}'
request '{"a":[69]}'
request '{"a":[4,0,0,0,3],"b":[6,0,16,0,42]}'
request '{"a":[3,255,0,0,1]}'
sleep 0.5
mkdir -p docs
DISPLAY=$display build/screen-grab docs/screenshot.png 0 0 900 540
echo "docs/screenshot.png written"
