#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and checks what it holds.
#   check-package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "check-package: $*" >&2
    exit 1
}

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null) ||
    fail "cpack failed"
deb=$(ls "$work"/out/modbus-bridge_*.deb) || fail "no package written"
root=$work/root
dpkg -x "$deb" "$root"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = modbus-bridge ] || fail "package name $(field Package)"
depends=$(field Depends)
[[ $depends == *libqt6widgets6* ]] || fail "Depends lacks the Qt widgets: $depends"
[[ $depends == *libjsoncpp* ]] || fail "Depends lacks jsoncpp: $depends"

for program in modbus-bridge modbus-bridged modbus-sim; do
    [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program missing or not executable"
    # Project libraries are linked in; only system libraries remain, all found.
    if ldd "$root/usr/bin/$program" | grep -q 'not found'; then
        fail "$program needs a library the system lacks"
    fi
done
# No switch of a test left in what users get: such a switch could grant a page access.
for program in modbus-bridge modbus-bridged modbus-sim; do
    if strings -a "$root/usr/bin/$program" | grep -q MODBUS_BRIDGE_TEST; then
        fail "$program holds a test switch: $(strings -a "$root/usr/bin/$program" | grep MODBUS_BRIDGE_TEST)"
    fi
done
help=$("$root/usr/bin/modbus-sim" --help) || fail "the installed modbus-sim does not run"
grep -q 'Simulates a Modbus RTU slave' <<<"$help" || fail "the installed modbus-sim says nothing"

[ -f "$root/usr/share/modbus-bridge/web/index.html" ] || fail "demo page missing"
[ ! -e "$root/usr/share/modbus-bridge/web/tests" ] || fail "the page's tests were installed"
web=$root/usr/share/modbus-bridge/web
for file in modbus-bridge.js modbus-bridge.d.ts package.json; do
    [ -f "$web/client/$file" ] || fail "client library file client/$file missing"
done
[ ! -e "$web/client/tests" ] || fail "the client's tests were installed"
# Everything the demo page loads (what its markup links, what its script imports) is installed
# beside it.
loaded=$(sed -n 's/.*\(src\|href\)="\([^"]*\)".*/\2/p' "$web/index.html"
         sed -n "s/.* from '\.\/\([^']*\)';.*/\1/p" "$web/demo.js")
[ "$(wc -w <<<"$loaded")" -ge 4 ] || fail "found only these files the demo page loads: $loaded"
for file in $loaded; do
    [ -f "$web/$file" ] || fail "the demo page loads $file, which is not installed"
done

desktop=$root/usr/share/applications/modbus-bridge.desktop
[ -f "$desktop" ] || fail "desktop entry missing"
grep -qx 'Exec=modbus-bridge' "$desktop" || fail "desktop entry does not start modbus-bridge"
grep -qx 'Type=Application' "$desktop" || fail "desktop entry type"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon $icon missing"

unit=$root/usr/lib/systemd/system/modbus-bridged.service
[ -f "$unit" ] || fail "systemd unit missing"
grep -qx 'ExecStart=/usr/bin/modbus-bridged' "$unit" || fail "unit does not start modbus-bridged"
grep -qx 'SupplementaryGroups=dialout' "$unit" || fail "unit cannot reach serial ports"
grep -qx 'ExecReload=/bin/kill -HUP $MAINPID' "$unit" || fail "systemctl reload does not reach the unit's bridge"
grep -qx 'WantedBy=multi-user.target' "$unit" || fail "unit cannot be enabled"

[ -f "$root/usr/share/doc/modbus-bridge/README.md" ] || fail "user guide missing"
# Nothing of the build folder leaks into the package.
if find "$root" -name '*.ini' | grep -q .; then fail "a settings file was packaged"; fi

echo "check-package: $(basename "$deb") holds the programs, the page, the desktop entry and the unit"
