# The wine environment of a Windows build folder, for every wine run of the build, its tests and
# the scripts that drive the Windows programs. Source it with the build folder:
#
#   source tools/wine-env.sh build-windows
#   wine_env_start                    # once; cheap when it already runs; exports DISPLAY
#   wine_run 60 build-windows/x.exe   # every run bounded by a time-out (seconds)
#   wine_com_port 5 /dev/pts/7        # COM5 is that device from now on
#   wine_env_stop                     # ends the wineserver and every program of the prefix
#
# The prefix lives in <build folder>/wine, so deleting the build folder deletes it too.
#
# Every wine run of the prefix shares one X display (Xvfb), which lives as long as the
# wineserver: wine's desktop process follows the display of whichever program started it first,
# so a test that only needs a message window, run beside one that makes real windows, must not
# start it on another display or on none (the windows' creation then fails with error 1400).

wine_env_build_dir=$(cd "${1:?wine-env.sh needs the build folder}" && pwd)
export WINEPREFIX="$wine_env_build_dir/wine"
export WINEARCH=win64
export WINEDEBUG=-all
# No .NET or browser engine: their installers would ask for downloads.
export WINEDLLOVERRIDES="mscoree,mshtml="

# The start time of a process (clock ticks after boot): with its pid, it names the process for
# good, since the system may give the pid to another program once this one has ended.
wine_env_start_time() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    # The fields after the program's name, which may hold spaces, in parentheses; the start
    # time is the 22nd field in all.
    local fields
    read -r -a fields <<<"${stat##*) }"
    echo "${fields[19]}"
}

# True when the pid still names the display's Xvfb: it runs Xvfb and, where the start time was
# stored, started then.
wine_env_is_xvfb() {
    local pid=$1 started=${2:-} program=""
    [ -n "$pid" ] || return 1
    IFS= read -r -d '' program 2>/dev/null <"/proc/$pid/cmdline" || [ -n "$program" ] || return 1
    [ "${program##*/}" = Xvfb ] || return 1
    [ -z "$started" ] || [ "$(wine_env_start_time "$pid")" = "$started" ]
}

# Starts the prefix's display unless it runs, makes the prefix if it is missing, then keeps one
# wineserver running for it. A fresh server is warmed up with a first program (the registry
# setting below) whose output goes nowhere: that run starts wine's helper
# processes, which otherwise inherit the pipes of whatever runs first (ctest) and hold them open.
# The lock keeps parallel test runs from starting two; what wine leaves running must not inherit
# the lock's descriptor, or it would hold the lock for as long as it runs.
wine_env_start() {
    (
        flock 9
        local display_file="$wine_env_build_dir/wine-display"
        local number="" xvfb_pid="" xvfb_started=""
        if [ -e "$display_file" ]; then
            read -r number xvfb_pid xvfb_started <"$display_file" || true
        fi
        if ! wine_env_is_xvfb "$xvfb_pid" "$xvfb_started"; then
            # Programs still running are bound to a display that is gone: they end with it.
            timeout 60 wineserver -k </dev/null >/dev/null 2>&1 9>&- || true
            local fifo
            fifo=$(mktemp -u)
            mkfifo "$fifo"
            # Xvfb picks a free display and writes its number once it takes connections; in a
            # session of its own, holding none of the caller's descriptors, it outlives the caller.
            setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
                </dev/null >/dev/null 2>&1 3>"$fifo" 9>&- &
            xvfb_pid=$!
            number=""
            read -r -t 30 number <"$fifo" || true
            rm -f "$fifo"
            if [ -z "$number" ]; then
                kill "$xvfb_pid" 2>/dev/null || true
                echo "wine-env: Xvfb did not start" >&2
                return 1
            fi
            echo "$number $xvfb_pid $(wine_env_start_time "$xvfb_pid")" >"$display_file"
        fi
        export DISPLAY=:$number
        if [ ! -e "$WINEPREFIX/.prefix-ready" ]; then
            timeout 300 wineboot -i </dev/null >/dev/null 2>&1 9>&-
            timeout 60 wineserver -w </dev/null >/dev/null 2>&1 9>&-
            touch "$WINEPREFIX/.prefix-ready"
        fi
        local status=0
        wineserver -p </dev/null >/dev/null 2>&1 9>&- || status=$?
        case $status in
            0)
                # Wine leaves its windows to a window manager unless told otherwise, and with
                # none on the display it waits two seconds for one whenever a window is hidden.
                timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
                    </dev/null >/dev/null 2>&1 9>&-
                ;;
            2) ;; # already running
            *) echo "wine-env: wineserver did not start ($status)" >&2; return 1 ;;
        esac
    ) 9>"$wine_env_build_dir/wine.lock" || return 1
    local number
    read -r number _ <"$wine_env_build_dir/wine-display"
    export DISPLAY=:$number
}

# wine_run SECONDS PROGRAM [ARGUMENTS]: one bounded wine run.
wine_run() {
    local limit=$1
    shift
    timeout --kill-after=5 "$limit" wine "$@"
}

# wine_com_port N PATH: the device behind COMN. Takes effect at once, for programs already running.
wine_com_port() {
    ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

# The server prints its whole object table when it is killed: that goes nowhere. The display's
# server is ended only while its stored pid is still that server.
wine_env_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    local display_file="$wine_env_build_dir/wine-display" xvfb_pid="" xvfb_started=""
    if [ -e "$display_file" ]; then
        read -r _ xvfb_pid xvfb_started <"$display_file" || true
        if wine_env_is_xvfb "$xvfb_pid" "$xvfb_started"; then
            kill "$xvfb_pid" 2>/dev/null || true
        fi
        rm -f "$display_file"
    fi
}
