# Source after tools/wine-env.sh. A program without a window that ran in the prefix just before
# (modbus-bridged.exe in another test) leaves wine's desktop process of the prefix behind for a
# moment, started without a display; a window shown meanwhile goes to that desktop and never
# appears on ours. wine_desktop_wait_free waits, bounded, until no desktop process of the prefix
# is left, so that the next window starts one on the display.
wine_desktop_wait_free() {
    local pid environment
    for _ in $(seq 1000); do
        local left=false
        for pid in $(pgrep -f 'explorer\.exe /desktop' || true); do
            environment=$(tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null || true)
            if grep -qxF "WINEPREFIX=$WINEPREFIX" <<<"$environment"; then
                left=true
            fi
        done
        $left || return 0
        sleep 0.02
    done
    echo "wine-desktop: the prefix's desktop process did not end" >&2
    return 1
}
