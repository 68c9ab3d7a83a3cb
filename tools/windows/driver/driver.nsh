; The unit's USB driver package (driver\ in the program folder, from
; build-driver.sh) goes into Windows' driver store with the program, silent
; installs included, and out of it with the program. A failure leaves the
; program installed: it is logged in driver\install.log, and the last page
; says what to do instead.
; installer.nsi includes this file before its pages, shows $DriverFinishText
; on the last page, and inserts DRIVER_INSTALL after the files are in place
; and DRIVER_UNINSTALL before any file is removed.

!include LogicLib.nsh

!define DRIVER_TOOL '"$INSTDIR\driver\strobix-driver.exe"'
!define DRIVER_INF '"$INSTDIR\driver\strobix-dfu.inf"'
!define DRIVER_LOG "$INSTDIR\driver\install.log"

Var DriverFinishText

; The installer is a 64-bit program: strobix-driver.exe runs without
; file-system redirection, as device installation on 64-bit Windows needs.
!macro DRIVER_INSTALL
    DetailPrint "$(DriverInstalling)"
    nsExec::ExecToStack '${DRIVER_TOOL} install ${DRIVER_INF}'
    Pop $0
    Pop $1
    FileOpen $2 "${DRIVER_LOG}" w
    FileWrite $2 "$1"
    ${If} $0 != 0
        FileWrite $2 "exit status: $0$\r$\n"
    ${EndIf}
    FileClose $2
    ${If} $0 == 0
        StrCpy $DriverFinishText "$(DriverInstalled)"
    ${Else}
        DetailPrint "$(DriverNotInstalled)"
        StrCpy $DriverFinishText "$(DriverFailed)"
    ${EndIf}
!macroend

!macro DRIVER_UNINSTALL
    ${If} ${FileExists} "$INSTDIR\driver\strobix-driver.exe"
        nsExec::ExecToStack '${DRIVER_TOOL} uninstall ${DRIVER_INF}'
        Pop $0
        Pop $1
        DetailPrint "$1"
    ${EndIf}
    Delete "${DRIVER_LOG}"
!macroend

; 1033 English, 1031 German: the languages are loaded after the pages.
LangString DriverInstalling 1033 "Installing the USB driver for the flash unit..."
LangString DriverInstalling 1031 "USB-Treiber für das Blitzgerät wird installiert..."
LangString DriverNotInstalled 1033 "The USB driver was not installed; see driver\install.log."
LangString DriverNotInstalled 1031 "Der USB-Treiber wurde nicht installiert; siehe driver\install.log."

LangString DriverInstalled 1033 "${PRODUCT} has been installed, with the USB driver for the flash unit in update mode. Windows may have asked once whether to install device software from ${PUBLISHER}.$\r$\n$\r$\nConnect the unit in update mode: Device Manager lists it under Universal Serial Bus devices as $\"strobix flash unit (update mode)$\". Start the updater from the Start menu.$\r$\n$\r$\nUninstalling removes the driver too, and keeps the downloaded images and logs in %LOCALAPPDATA%\Orvane kelvio GmbH\${PRODUCT}\kelvio."
LangString DriverInstalled 1031 "${PRODUCT} ist installiert, mit dem USB-Treiber für das Blitzgerät im Update-Modus. Windows hat eventuell einmal gefragt, ob Gerätesoftware von ${PUBLISHER} installiert werden soll.$\r$\n$\r$\nSchließen Sie das Gerät im Update-Modus an: Der Geräte-Manager zeigt es als $\"strobix Blitzgerät (Update-Modus)$\". Sie starten das Programm über das Startmenü.$\r$\n$\r$\nBeim Deinstallieren wird der Treiber entfernt; die geladenen Images und Protokolle in %LOCALAPPDATA%\Orvane kelvio GmbH\${PRODUCT}\kelvio bleiben erhalten."

LangString DriverFailed 1033 "${PRODUCT} has been installed, but Windows did not take the USB driver for the flash unit; without it the updater reports $\"Flash unit found, but without a suitable USB driver$\" and offers to install it. The reason is in driver\install.log in the program folder.$\r$\n$\r$\nInstall the driver as an administrator: in Device Manager, choose Update driver for the unit in update mode and browse to the driver folder, or run$\r$\npnputil /add-driver $\"$INSTDIR\driver\strobix-dfu.inf$\" /install"
LangString DriverFailed 1031 "${PRODUCT} ist installiert, aber Windows hat den USB-Treiber für das Blitzgerät nicht übernommen; ohne ihn meldet das Programm $\"Blitzgerät gefunden, aber ohne passenden USB-Treiber$\" und bietet an, ihn zu installieren. Der Grund steht in driver\install.log im Programmordner.$\r$\n$\r$\nInstallieren Sie den Treiber als Administrator: im Geräte-Manager beim Blitzgerät im Update-Modus $\"Treiber aktualisieren$\" wählen und den Ordner driver angeben, oder ausführen:$\r$\npnputil /add-driver $\"$INSTDIR\driver\strobix-dfu.inf$\" /install"
