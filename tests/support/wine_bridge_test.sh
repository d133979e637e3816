# Sourced by the scripts that run a Windows program of the bridge under wine beside modbus-sim.
#
#   fail MESSAGE                        names the script, says why and ends it
#   wine_bridge_test_begin BUILD        port 19284 is free; BUILD's wine environment runs
#   wine_bridge_sim COM SIM_PROGRAM DIR modbus-sim started (its pid in $sim, its output in DIR),
#                                       its terminal behind COMn
#   readme_request [RAND [ORIGIN]]      the README's read of two holding registers, with that
#                                       rand_string (demo) and Origin; prints the reply
#   readme_reply                        the reply the README prints for it

wine_bridge_test_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_bridge_test_name=$(basename "$0" .sh)

wine_bridge_test_begin() {
    if holder=$(ss -ltnpH "sport = :19284" 2>/dev/null) && [ -n "$holder" ]; then
        fail "port 19284 is taken: $holder"
    fi
    source "$wine_bridge_test_root/tools/wine-env.sh" "$1"
    wine_env_start
}

fail() {
    echo "$wine_bridge_test_name: $*" >&2
    exit 1
}

wine_bridge_sim() {
    mkfifo "$3/sim-out"
    "$2" >"$3/sim-out" &
    sim=$!
    exec 4<"$3/sim-out"
    local pty
    read -r -t 30 pty <&4 || fail "modbus-sim did not start"
    wine_com_port "$1" "$pty"
}

readme_request() {
    curl -s --max-time 30 -H 'Expect:' ${2:+-H "Origin: $2"} --data-urlencode 'json_data={'\
'"company_id":1,"device_id":1,"slave_addr":1,"baud_rate":19200,"com_port":1,"poll_ms":1000,'\
'"timeout_ms":500,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,"ctrl_invert":false,'\
'"rand_string":"'"${1:-demo}"'","pdu":{"read":[3,0,0,0,2]}}' http://localhost:19284/
}

readme_reply() {
    sed -n '/^answers with the request, the two holding registers/,/^```$/{/^{/p}' \
        "$wine_bridge_test_root/README.md"
}
