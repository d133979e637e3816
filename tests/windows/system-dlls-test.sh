#!/usr/bin/env bash
# The programs import only DLLs that Windows always takes from its system folder: its known DLLs,
# the API sets that the loader resolves itself, and the common controls when the program's
# manifest asks for them. Any other DLL is found in the program's own folder first, so one planted
# beside a portable copy would run in its place.
#
#   tests/windows/system-dlls-test.sh OBJDUMP PROGRAM.exe...
set -euo pipefail
objdump=$1
shift

# The known DLLs of Windows 10 and 11 (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\
# KnownDLLs), without the ones for other processors' programs.
known=" advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
 msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi
 user32 wldap32 ws2_32 "
known=$(tr '\n' ' ' <<<"$known")

found=0
for program; do
    imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
    if [ -z "$imports" ]; then
        echo "system-dlls-test: no import table read from $program" >&2
        exit 1
    fi
    for dll in $imports; do
        name=${dll%.dll}
        case "$known" in *" $name "*) continue ;; esac
        case "$name" in api-ms-win-* | ext-ms-win-*) continue ;; esac
        if [ "$name" = comctl32 ] && grep -aq 'Microsoft.Windows.Common-Controls' "$program"; then
            continue
        fi
        echo "system-dlls-test: $(basename "$program") imports $dll, which Windows may load" \
            "from the program's own folder" >&2
        found=1
    done
    echo "$(basename "$program"): $(tr '\n' ' ' <<<"$imports")"
done
exit $found
