# The wine environment of a Windows build folder, for every wine run of the build, its tests and
# the scripts that drive the Windows programs. Source it with the build folder:
#
#   source tools/wine-env.sh build-windows
#   wine_env_start                    # once; cheap when it already runs
#   wine_run 60 build-windows/x.exe   # every run bounded by a time-out (seconds)
#   wine_com_port 5 /dev/pts/7        # COM5 is that device from now on
#   wine_env_stop                     # ends the wineserver and every program of the prefix
#
# The prefix lives in <build folder>/wine, so deleting the build folder deletes it too.

wine_env_build_dir=$(cd "${1:?wine-env.sh needs the build folder}" && pwd)
export WINEPREFIX="$wine_env_build_dir/wine"
export WINEARCH=win64
export WINEDEBUG=-all
# No .NET or browser engine: their installers would ask for downloads.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Makes the prefix if it is missing, then keeps one wineserver running for it. A fresh server is
# warmed up with a first program whose output goes nowhere: that run starts wine's helper
# processes, which otherwise inherit the pipes of whatever runs first (ctest) and hold them open.
# The lock keeps parallel test runs from starting two; what wine leaves running must not inherit
# the lock's descriptor, or it would hold the lock for as long as it runs.
wine_env_start() {
    (
        flock 9
        if [ ! -e "$WINEPREFIX/.prefix-ready" ]; then
            timeout 300 wineboot -i </dev/null >/dev/null 2>&1 9>&-
            timeout 60 wineserver -w </dev/null >/dev/null 2>&1 9>&-
            touch "$WINEPREFIX/.prefix-ready"
        fi
        local status=0
        wineserver -p </dev/null >/dev/null 2>&1 9>&- || status=$?
        case $status in
            0) timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- ;;
            2) ;; # already running
            *) echo "wine-env: wineserver did not start ($status)" >&2; return 1 ;;
        esac
    ) 9>"$wine_env_build_dir/wine.lock"
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

# The server prints its whole object table when it is killed: that goes nowhere.
wine_env_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
}
