; Included by installer.nsi: before the installer or the uninstaller changes
; anything, it finds out whether the updater runs from the folder it works on.
; Windows keeps a running program's files open, so going ahead would leave a
; mix of two versions, or a folder that nothing can uninstall. The updater is
; never ended from here: it may be writing a flash unit.
;
; Running means: strobix-updater.exe or dfu-util\dfu-util.exe in the folder
; cannot be opened for writing. Windows refuses that for the file of every
; running program, whoever started it and in whichever session, so this also
; finds versions installed before this check existed, and a dfu-util.exe that
; goes on writing a unit after its updater was ended. A mutex would find
; neither, and a window search no program of another user.
;
; Interactively the user is asked to close it (Retry, Cancel); silently, and
; on Cancel, the (un)installer ends at once with exit code 2.

!include LogicLib.nsh

LangString RunningText ${LANG_ENGLISH} "${PRODUCT} is open, or its dfu-util is still writing a flash unit.$\r$\n$\r$\nLet the update finish, close the updater, then click Retry."
LangString RunningText ${LANG_GERMAN} "${PRODUCT} ist geöffnet, oder sein dfu-util schreibt noch in ein Blitzgerät.$\r$\n$\r$\nLassen Sie das Update zu Ende laufen, schließen Sie das Programm und klicken Sie dann auf Wiederholen."

!macro RUNNING_FUNCTIONS un
; Sets $R1 to 1 when a running program holds the file named on the stack.
Function ${un}HeldByProgram
    Exch $R0
    Push $R2
    StrCpy $R1 ""
    ${If} ${FileExists} $R0
        ClearErrors
        FileOpen $R2 $R0 a
        ${If} ${Errors}
            StrCpy $R1 1
        ${Else}
            FileClose $R2
        ${EndIf}
    ${EndIf}
    Pop $R2
    Pop $R0
FunctionEnd

; Returns once nothing runs from the folder named on the stack.
Function ${un}StopIfRunning
    Exch $R0
    Push $R1
retry:
    Push "$R0\strobix-updater.exe"
    Call ${un}HeldByProgram
    StrCmp $R1 1 running
    Push "$R0\dfu-util\dfu-util.exe"
    Call ${un}HeldByProgram
    StrCmp $R1 1 running
    Pop $R1
    Pop $R0
    Return
running:
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(RunningText)" /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
FunctionEnd
!macroend
!insertmacro RUNNING_FUNCTIONS ""
!insertmacro RUNNING_FUNCTIONS "un."

; The installer writes into $INSTDIR and first removes the installed version,
; which may live in another folder.
Function StopIfInstalledRunning
    Push $0
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        Push $0
        Call StopIfRunning
    ${EndIf}
    Push $INSTDIR
    Call StopIfRunning
    Pop $0
FunctionEnd

; A silent uninstall runs in place, as the uninstall entry's quiet command has
; _?=: NSIS's usual way, a copy in %TEMP% that it does not wait for, would
; give the caller exit code 0 at once, whatever happened. In place, the
; uninstaller cannot delete its own file, so with /REMOVESELF it leaves that
; to a copy of itself (/FINISH) that waits until it has ended. The installer
; runs an earlier version's uninstaller in place as well, and removes it
; itself.

!include FileFunc.nsh

; At the end of the uninstall section.
Function un.RemoveSelfLater
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 /REMOVESELF $R1
    ${IfNot} ${Errors}
        ; Started without _?=, NSIS runs it as a copy in %TEMP%.
        Exec '"$INSTDIR\uninstall.exe" /S /FINISH'
    ${EndIf}
FunctionEnd

; First in un.onInit: that copy removes the uninstaller and the folder, and
; ends. Only after an uninstall: the program must be gone already.
Function un.FinishRemoval
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 /FINISH $R1
    ${If} ${Errors}
        Return
    ${EndIf}
    ${IfNot} ${FileExists} "$INSTDIR\strobix-updater.exe"
        ; The uninstaller that started it ends within moments.
        ${For} $R1 1 100
            Delete "$INSTDIR\uninstall.exe"
            ${IfNot} ${FileExists} "$INSTDIR\uninstall.exe"
                ${Break}
            ${EndIf}
            Sleep 100
        ${Next}
        Delete /REBOOTOK "$INSTDIR\uninstall.exe"
        RMDir /REBOOTOK "$INSTDIR"
        RMDir "$PROGRAMFILES64\Orvane kelvio"
    ${EndIf}
    Quit
FunctionEnd
