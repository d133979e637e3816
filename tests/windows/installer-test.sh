#!/usr/bin/env bash
# The Windows installer under wine: a silent install puts every staged file into Program Files
# with its uninstaller, the entry in the installed programs and, with the window program, the
# Start-menu shortcut; a silent uninstall removes all of that and leaves the user's settings and
# logs in the application data alone. The start at login is left out of a silent install unless
# /AUTOSTART=1 asks for it, and then written as the window writes it; the uninstall removes it
# from every loaded user's registry where it names this installation's window, and leaves
# another copy's. Neither the installed programs nor those of the portable
# zip hold a switch of the tests.
#
#   tests/windows/installer-test.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/wine-env.sh" "$build"
wine_env_start

fail() {
    echo "installer-test: $*" >&2
    exit 1
}
# A Windows path of the prefix as a Linux path.
unix_path() {
    winepath -u "$1" 2>/dev/null
}
windows_variable() {
    wine_run 30 cmd /c "echo %$1%" </dev/null 2>/dev/null | tr -d '\r'
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\modbus-bridge'
run_key='Software\Microsoft\Windows\CurrentVersion\Run'
run_value() {
    wine_run 30 reg query "$1\\$run_key" /v modbus-bridge </dev/null 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *modbus-bridge *REG_SZ *//p'
}
registered() {
    wine_run 30 reg query "$uninstall_key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

# No switch of a test in the programs users get: such a switch could grant a page access. Texts
# of the programs are narrow or UTF-16.
no_test_switches() {
    local program found
    for program in "$@"; do
        found=$({ strings -a "$program"; strings -a -e l "$program"; } | grep MODBUS_BRIDGE_TEST || true)
        [ -z "$found" ] || fail "$program holds a test switch: $found"
    done
}

setup=$build/modbus-bridge-setup.exe
stage=$build/package/modbus-bridge
[ -f "$setup" ] && [ -d "$stage" ] || fail "no installer in $build (build the target windows-packages)"
folder_windows="$(windows_variable ProgramFiles)\\modbus-bridge"
folder=$(unix_path "$folder_windows")
shortcut=$(unix_path "$(windows_variable ProgramData)\\Microsoft\\Windows\\Start Menu\\Programs")/"Modbus мост.lnk"
user_data=$(unix_path "$(windows_variable APPDATA)\\modbus-bridge")
[ ! -e "$folder" ] || fail "$folder is there before the install: an earlier run left it"

work=$(mktemp -d)
cleanup() {
    rm -rf "$work" "$folder" "$user_data" "$shortcut"
    wine_run 30 reg delete "$uninstall_key" /f </dev/null >/dev/null 2>&1 || true
    for hive in HKCU 'HKU\.DEFAULT'; do
        wine_run 30 reg delete "$hive\\$run_key" /v modbus-bridge /f </dev/null >/dev/null 2>&1 || true
    done
}
trap cleanup EXIT

wine_run 120 "$setup" /S </dev/null || fail "the silent install ended with $?"
[ -z "$(run_value HKCU)" ] || fail "a silent install without /AUTOSTART=1 starts the window at login"
if [ -f "$stage/modbus-bridge.exe" ]; then
    wine_run 120 "$setup" /S /AUTOSTART=1 </dev/null || fail "the install with /AUTOSTART=1 ended with $?"
    [ "$(run_value HKCU)" = "\"$folder_windows\\modbus-bridge.exe\" --minimized" ] ||
        fail "the start at login is '$(run_value HKCU)'"
    # Another user's entry for another copy.
    wine_run 30 reg add "HKU\\.DEFAULT\\$run_key" /v modbus-bridge /d '"C:\Other\modbus-bridge.exe" --minimized' /f \
        </dev/null >/dev/null 2>&1 || fail "cannot write another user's entry"
fi
# Exactly the staged files, byte for byte, and the uninstaller.
(cd "$stage" && find . -type f | sort) >"$work/staged"
(cd "$folder" && find . -type f ! -name uninstall.exe | sort) >"$work/installed"
diff "$work/staged" "$work/installed" || fail "the installed files differ from the staged ones"
while read -r file; do
    cmp -s "$stage/$file" "$folder/$file" || fail "$file differs from the staged one"
done <"$work/staged"
[ -f "$folder/uninstall.exe" ] || fail "no uninstaller"
no_test_switches "$folder"/*.exe
zip=$(ls "$build"/modbus-bridge-*-portable.zip) || fail "no portable zip in $build"
mkdir "$work/portable"
(cd "$work/portable" && cmake -E tar xf "$zip") || fail "the portable zip cannot be unpacked"
[ -f "$work/portable/modbus-bridge/modbus-bridged.exe" ] || fail "no modbus-bridged.exe in the zip"
no_test_switches "$work/portable/modbus-bridge/"*.exe
[ "$(registered InstallLocation)" = "$folder_windows" ] ||
    fail "the installed programs list says the folder is '$(registered InstallLocation)'"
[ "$(registered QuietUninstallString)" = "\"$folder_windows\\uninstall.exe\" /S" ] ||
    fail "the quiet uninstall command is '$(registered QuietUninstallString)'"
if [ -f "$stage/modbus-bridge.exe" ]; then
    [ -f "$shortcut" ] || fail "no Start-menu shortcut to the window"
else
    [ ! -e "$shortcut" ] || fail "a Start-menu shortcut without the window program"
fi

# What the installed copy keeps per user.
mkdir -p "$user_data"
printf '[Options]\r\nViewHex=1\r\n' >"$user_data/modbus-bridge.ini"
printf 'a line\r\n' >"$user_data/modbus-bridge-2026-12-06.txt"
# Something of the operator's own in the program folder stays too.
printf 'notes\r\n' >"$folder/notes.txt"

# A silent uninstaller copies itself away and returns at once; run in place (_?=) it ends when
# it is done. The command line is taken whole, unquoted, from a batch file.
printf '@"%s\\uninstall.exe" /S _?=%s\r\n' "$folder_windows" "$folder_windows" >"$work/uninstall.bat"
wine_run 120 cmd /c "$(winepath -w "$work/uninstall.bat" 2>/dev/null)" </dev/null ||
    fail "the silent uninstall ended with $?"
# Run in place, the uninstaller cannot remove itself: everything else that it installed is gone.
(cd "$folder" && find . -type f | sort) >"$work/left"
printf './notes.txt\n./uninstall.exe\n' | diff - "$work/left" || fail "the uninstall left files"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is still there"
[ -z "$(registered InstallLocation)" ] || fail "still in the installed programs list"
[ -z "$(run_value HKCU)" ] || fail "the start at login of the removed window is left: $(run_value HKCU)"
if [ -f "$stage/modbus-bridge.exe" ]; then
    [ "$(run_value 'HKU\.DEFAULT')" = '"C:\Other\modbus-bridge.exe" --minimized' ] ||
        fail "the uninstall took another copy's start at login"
fi
[ "$(cat "$user_data/modbus-bridge.ini")" = "$(printf '[Options]\r\nViewHex=1\r')" ] ||
    fail "the user's settings changed"
[ -f "$user_data/modbus-bridge-2026-12-06.txt" ] || fail "the user's log is gone"
echo "installer-test: installed $(wc -l <"$work/staged") files and removed them again"
