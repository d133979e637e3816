; The Windows installer: the programs and the bridge's page into Program Files, a Start-menu
; shortcut to the window, an entry in the installed programs with its uninstaller. An installed
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
!include "${FILES}"

!define PRODUCT "modbus-bridge"
!define DISPLAY_NAME "Modbus мост"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${DISPLAY_NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

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
    Delete "$SMPROGRAMS\${DISPLAY_NAME}.lnk"
    !insertmacro RemoveFiles
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: whatever else is in it stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
