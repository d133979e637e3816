# An X display of its own (Xvfb) for the windows of wine programs, in the wine environment of a
# build folder. Source it after tools/wine-env.sh:
#
#   source tools/wine-env.sh build-windows
#   source tools/wine-display.sh
#   wine_display_start        # a free display, exported as DISPLAY
#   wine_run 60 build-windows/tests/window-preview.exe
#   wine_display_stop         # the display ends, and wine's desktop process of the prefix with it
#
# Wine's desktop process follows the display it was started on, so one display at a time serves
# a prefix (ctest: RESOURCE_LOCK wine_desktop).

wine_display_start() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    # Xvfb picks a free display and writes its number once it takes connections.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    wine_display_pid=$!
    local number=""
    read -r -t 30 number <"$fifo" || true
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "wine-display: Xvfb did not start" >&2
        wine_display_stop
        return 1
    fi
    export DISPLAY=:$number
    # Wine leaves its windows to a window manager unless told otherwise, and with none on this
    # display it waits two seconds for one whenever a window is hidden: the prefix's windows are
    # wine's own.
    wine_run 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
}

wine_display_stop() {
    if [ -n "${wine_display_pid:-}" ]; then
        kill "$wine_display_pid" 2>/dev/null || true
        wait "$wine_display_pid" 2>/dev/null || true
        wine_display_pid=""
    fi
}
