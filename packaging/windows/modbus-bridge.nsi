; The Windows installer: the programs and the bridge's page into Program Files, a Start-menu
; shortcut to the window, an entry in the installed programs with its uninstaller, and on a page
; of its own (checked) the start of the window at login, hidden in the tray: the value
; "modbus-bridge" under HKCU\...\Run of the user who installs (/AUTOSTART=1 in a silent
; install, which leaves it out otherwise; /AUTOSTART=0 unchecks the page). An installed
; copy keeps its settings and logs in the user's folders (application data, documents), which
; uninstalling leaves alone. MakePackages.cmake stages the files and runs:
;
;   makensis -DVERSION=0.1.0 -DSTAGE=<staged files> -DFILES=<files.nsh> -DOUTFILE=<setup.exe>
;
; files.nsh names every staged file: the InstallFiles and RemoveFiles macros install and remove
; exactly those, so uninstalling never removes what it did not install, wherever the folder is.
Unicode true
; The x86 stub does nothing under 64-bit wine, and still ends with 0.
Target amd64-unicode
SetCompressor /SOLID lzma

!include MUI2.nsh
!include nsDialogs.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include "${FILES}"

!define PRODUCT "modbus-bridge"
!define DISPLAY_NAME "Modbus мост"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The value's name and text are the window's own ("Файл" → "Запускать при входе в систему"), so
; the window shows the installer's choice as its check mark.
!define RUN_VALUE "modbus-bridge"

Name "${DISPLAY_NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin

!insertmacro MUI_PAGE_DIRECTORY
!if /FileExists "${STAGE}/modbus-bridge.exe"
    Page custom AutostartPage AutostartPageLeave
!endif
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; "1": the window starts at login.
Var Autostart
Var AutostartCheck

Function .onInit
    StrCpy $Autostart "1"
    ${If} ${Silent}
        StrCpy $Autostart "0"
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/AUTOSTART=" $1
    ${IfNot} ${Errors}
        StrCpy $Autostart $1
    ${EndIf}
FunctionEnd

Function AutostartPage
    !insertmacro MUI_HEADER_TEXT "Запуск при входе в систему" \
        "Мост может запускаться сам, когда вы входите в Windows"
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateCheckbox} 0 0 100% 12u "Запускать при входе в систему"
    Pop $AutostartCheck
    ${If} $Autostart == "1"
        ${NSD_Check} $AutostartCheck
    ${EndIf}
    ${NSD_CreateLabel} 0 20u 100% 40u "Окно моста откроется скрытым: его значок будет в области \
уведомлений, щелчок по значку покажет окно. Изменить это можно потом в меню окна: \
«Файл» → «Запускать при входе в систему»."
    Pop $0
    nsDialogs::Show
FunctionEnd

Function AutostartPageLeave
    ${NSD_GetState} $AutostartCheck $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Autostart "1"
    ${Else}
        StrCpy $Autostart "0"
    ${EndIf}
FunctionEnd

; Removes the Run value under the key $0 of the root given when it starts this installation's
; window; another copy's value stays.
!macro RemoveRunValue ROOT
    ReadRegStr $1 ${ROOT} "$0${RUN_KEY}" "${RUN_VALUE}"
    StrCpy $2 '"$INSTDIR\modbus-bridge.exe"'
    StrLen $3 $2
    StrCpy $1 $1 $3
    ; StrCmp compares without regard to case, as Windows compares paths.
    ${If} $1 == $2
        DeleteRegValue ${ROOT} "$0${RUN_KEY}" "${RUN_VALUE}"
    ${EndIf}
!macroend

Section "Install"
    ; For every user of the computer: the shortcut among all users' programs.
    SetShellVarContext all
    !insertmacro InstallFiles
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    !if /FileExists "${STAGE}/modbus-bridge.exe"
        CreateShortCut "$SMPROGRAMS\${DISPLAY_NAME}.lnk" "$INSTDIR\modbus-bridge.exe"
    !endif

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "modbus-bridge developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "https://modbus-bridge.example"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    !if /FileExists "${STAGE}/modbus-bridge.exe"
        WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\modbus-bridge.exe"
    !endif
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${STAGED_KB}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    !if /FileExists "${STAGE}/modbus-bridge.exe"
        ${If} $Autostart == "1"
            WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\modbus-bridge.exe" --minimized'
        ${EndIf}
    !endif
SectionEnd

;------------------------------------------------------------------------------------------------
; The Windows service, for a computer that nobody logs on to: with /SERVICE=1 (a silent install of
; a panel PC: modbus-bridge-setup.exe /S /SERVICE=1) modbus-bridged.exe registers the service once
; its files are in place and it is started; a failure ends the installer with status 2. The
; uninstall removes the service before the files go, whoever registered it, so that none is left
; naming a missing program. Here, in one place, apart from the rest of the installer.
!include FileFunc.nsh
!include LogicLib.nsh

Section "-Service"
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/SERVICE=" $1
    ${If} ${Errors}
    ${OrIf} $1 != "1"
        Return
    ${EndIf}
    nsExec::ExecToLog '"$INSTDIR\modbus-bridged.exe" --install-service'
    Pop $0
    ${If} $0 == "0"
        nsExec::ExecToLog '"$SYSDIR\net.exe" start modbus-bridged'
        Pop $0
    ${EndIf}
    ${If} $0 != "0"
        DetailPrint "Служба modbus-bridged не установлена или не запущена ($0)"
        SetErrorLevel 2
    ${EndIf}
SectionEnd

Section "-un.Service"
    ${If} ${FileExists} "$INSTDIR\modbus-bridged.exe"
        nsExec::ExecToLog '"$INSTDIR\modbus-bridged.exe" --uninstall-service'
        Pop $0
    ${EndIf}
SectionEnd
;------------------------------------------------------------------------------------------------

Section "Uninstall"
    SetShellVarContext all
    ; No entry may be left to start a program that is gone: the uninstalling user's, and those of
    ; every user whose registry is loaded now (signed in, or a service's). A user who is signed
    ; out keeps an entry that Windows skips at their next login, the program being gone.
    StrCpy $0 ""
    !insertmacro RemoveRunValue HKCU
    StrCpy $4 0
    ${Do}
        EnumRegKey $0 HKU "" $4
        ${If} $0 == ""
            ${Break}
        ${EndIf}
        StrCpy $0 "$0\"
        !insertmacro RemoveRunValue HKU
        IntOp $4 $4 + 1
    ${Loop}
    Delete "$SMPROGRAMS\${DISPLAY_NAME}.lnk"
    !insertmacro RemoveFiles
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: whatever else is in it stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
