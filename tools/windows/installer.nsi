; Installer of the Windows package, built by installer.sh with makensis.
; Defines from installer.sh: FOLDER (the folder from build.sh), VERSION,
; OUTFILE, ICON, SIDE_PICTURE (164x314 BMP), FILE_LIST (the Delete/RMDir lines
; for the folder's contents), SIZE_KB and SIGN (a command that signs the file
; named by %1 in place).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh

!define PRODUCT "strobix Firmware Updater"
!define PUBLISHER "Orvane kelvio GmbH"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Orvane kelvio\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PUBLISHER}"

; makensis signs the uninstaller before it packs it, then the installer.
!uninstfinalize '${SIGN} "%1"'
!finalize '${SIGN} "%1"'

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SIDE_PICTURE}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_TITLE_3LINES
!define MUI_FINISHPAGE_TEXT "$(DriverNote)"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one for any Windows that is not German.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString DriverNote ${LANG_ENGLISH} "${PRODUCT} has been installed. Start it from the Start menu.$\r$\n$\r$\nBefore the first update, the flash unit in update mode (USB ID 0483:df11) needs the WinUSB driver, installed once with a WinUSB driver installer. Without it the updater reports $\"No compatible device found$\".$\r$\n$\r$\nUninstalling keeps the downloaded images and logs in %LOCALAPPDATA%\Orvane kelvio GmbH\${PRODUCT}\kelvio."
LangString DriverNote ${LANG_GERMAN} "${PRODUCT} ist installiert. Sie starten es über das Startmenü.$\r$\n$\r$\nVor dem ersten Update braucht das Blitzgerät im Update-Modus (USB-ID 0483:df11) den WinUSB-Treiber, einmal installiert mit einem WinUSB-Treiberinstaller. Ohne ihn meldet das Programm $\"Kein kompatibles Gerät gefunden$\".$\r$\n$\r$\nBeim Deinstallieren bleiben die geladenen Images und Protokolle in %LOCALAPPDATA%\Orvane kelvio GmbH\${PRODUCT}\kelvio erhalten."

!include "${__FILEDIR__}\running.nsh"

Function .onInit
    SetShellVarContext all
    Call StopIfInstalledRunning
FunctionEnd

Function un.onInit
    Call un.FinishRemoval
    SetShellVarContext all
    Push $INSTDIR
    Call un.StopIfRunning
FunctionEnd

Section
    ; Again: the user may have started it, or chosen another folder, since.
    Call StopIfInstalledRunning
    ; An earlier version goes first, so that none of its files outlive the
    ; uninstaller of this one. _?= runs it in place and waits for it.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    StrCmp $0 "" fresh
    IfFileExists "$0\uninstall.exe" 0 fresh
    ExecWait '"$0\uninstall.exe" /S _?=$0' $1
    ${If} $1 != 0
        ; It refused (it found the program running) or failed: keep what is there.
        SetErrorLevel 2
        Quit
    ${EndIf}
    Delete "$0\uninstall.exe"
    RMDir "$0"
fresh:
    SetOutPath "$INSTDIR"
    File /r "${FOLDER}/*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; The shortcut's working folder is the program's: the updater finds
    ; dfu-util\dfu-util.exe relative to it.
    SetOutPath "$INSTDIR"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\strobix-updater.exe" "" "$INSTDIR\strobix-updater.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\strobix-updater.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S /REMOVESELF _?=$INSTDIR'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "https://www.kelvio.example/"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

; Only what the installer put there: files the user added to the folder stay,
; and so does the user's data folder under %LOCALAPPDATA%.
Section "Uninstall"
    Push $INSTDIR
    Call un.StopIfRunning
    Delete "${SHORTCUT}"
    !include "${FILE_LIST}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    RMDir "$PROGRAMFILES64\Orvane kelvio"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    Call un.RemoveSelfLater
SectionEnd
