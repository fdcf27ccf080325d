; A complete installer of a small Kivelstrand payload with kiv_inst.dll:
; the program folder under Program Files, the drive chooser for the render
; cache (interactive only), a status window with a clip during the long steps
; (interactive only), the render service created and started, the uninstall
; script kivunins.ini beside the library, and an uninstaller that removes it
; all through the library's uninstall hook and says when it could not.
; Run again, or a later version, it upgrades in place: the running service is
; stopped before its program is replaced, then started again, and keeps what
; an administrator set on it.
;
;   makensis -DKIV_DIST=<folder of kiv_inst.dll> -DKIV_SERVICE_EXE=<service program> example.nsi
;
; Silent:  kivelstrand-setup.exe /S [/D=<program folder>]
; Exit codes: 0 installed; 1 cancelled; 2 refused or failed (a folder outside
; the code page, a service that would not stop, be created or start).

Unicode true

!ifndef KIV_DIST
  !define KIV_DIST "${__FILEDIR__}\..\.."
!endif
!ifndef KIV_SERVICE_EXE
  !define KIV_SERVICE_EXE "kivrender.exe"
!endif
!ifndef KIV_SERVICE_NAME
  !define KIV_SERVICE_NAME "KivRenderServer"
!endif
; The service's command line: the program's path, quoted (unquoted, a path
; with blanks lets the system try "C:\Program.exe" first), and any arguments.
!ifdef KIV_SERVICE_ARGS
  !define SERVICE_COMMAND '"$INSTDIR\bin\kivrender.exe" ${KIV_SERVICE_ARGS}'
!else
  !define SERVICE_COMMAND '"$INSTDIR\bin\kivrender.exe"'
!endif
!ifndef KIV_VERSION
  !define KIV_VERSION "1.1.0"
!endif
!ifndef KIV_OUTFILE
  !define KIV_OUTFILE "kivelstrand-setup.exe"
!endif
!define PRODUCT "Kivelstrand"
!define SETUP_TITLE "Kivelstrand Setup"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define DIR_TEXT "Setup will install ${PRODUCT} ${KIV_VERSION} in the following folder."
; The directory page's text above the folder field.
!define IDC_DIR_TEXT 1006

!addincludedir "${__FILEDIR__}"
!include "kiv_inst.nsh"
!include LogicLib.nsh
!include WinMessages.nsh

Name "${PRODUCT} ${KIV_VERSION}"
OutFile "${KIV_OUTFILE}"
; Program Files: only administrators can change what the LocalSystem service
; runs and what the elevated uninstaller loads.
InstallDir "$PROGRAMFILES\${PRODUCT}"
; An upgrade goes where the installed version is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
DirText "${DIR_TEXT}"

; The drive for the render cache; empty: beside the program.
Var CacheDrive
Var CacheDir

Page custom ChooseDrive
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
  ; No page checks a folder given to a silent installer with /D=.
  ${If} ${Silent}
    ${KivIsAnsi} "$INSTDIR" $0
    ${If} $0 = 0
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
  ; The installer's own copy of the library, for the calls below.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\kiv_inst.dll" "${KIV_DIST}\kiv_inst.dll"
FunctionEnd

; The library takes ANSI paths: a folder the code page cannot hold would
; reach the service manager changed. Next stays disabled and the page says
; why.
Function .onVerifyInstDir
  ${KivIsAnsi} "$INSTDIR" $0
  FindWindow $1 "#32770" "" $HWNDPARENT
  GetDlgItem $1 $1 ${IDC_DIR_TEXT}
  ${If} $0 = 0
    SendMessage $1 ${WM_SETTEXT} 0 "STR:This folder's name holds characters that Windows' code page for programs that are not Unicode cannot show. Choose another folder."
    Abort
  ${EndIf}
  SendMessage $1 ${WM_SETTEXT} 0 "STR:${DIR_TEXT}"
FunctionEnd

; The installer's copy is loaded until the end; unloaded, the installer can
; delete its temporary folder. A silent installer never reaches .onGUIEnd.
Function .onInstSuccess
  ${KivUnload}
FunctionEnd

Function .onInstFailed
  ${KivUnload}
FunctionEnd

Function .onGUIEnd
  ${KivUnload}
FunctionEnd

; Pages are skipped in a silent installer, so the chooser only shows when
; someone is there to answer it. Back on the first page is a cancel too; no
; drive to list, or no dialog (a quiet run), keeps the cache beside the
; program.
Function ChooseDrive
  ${KivAskDrive} 20 "${SETUP_TITLE}" \
      "Setup will keep the ${PRODUCT} render cache on the drive you select below." $0 $1
  ${If} $0 = 1
    StrCpy $CacheDrive $1
  ${ElseIf} $0 = 2
  ${OrIf} $0 = 3
    Quit
  ${Else}
    StrCpy $CacheDrive ""
  ${EndIf}
FunctionEnd

; Runs one icacls command on the cache folder; fails the install when it fails.
!macro _CacheAcl ARGS
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$CacheDir" ${ARGS}'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Could not restrict access to $CacheDir (icacls: $0)."
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend

Section "${PRODUCT}"
  ; Upgrading: a running service holds its program open. Stop it before
  ; the first file is written; it stays installed with its settings.
  ${KivServiceExists} "${KIV_SERVICE_NAME}" $R0
  StrCpy $R1 0
  ${If} $R0 = 1
    ${KivServiceIsRunning} "${KIV_SERVICE_NAME}" $R1
    ${If} $R1 = 1
      DetailPrint "Stopping the ${PRODUCT} render service..."
      ${KivServiceStop} "${KIV_SERVICE_NAME}" $0
      ${If} $0 <> 1
        DetailPrint "The render service did not stop; nothing was changed."
        SetErrorLevel 2
        Abort
      ${EndIf}
    ${EndIf}
  ${EndIf}

  ${IfNot} ${Silent}
    ${KivFakeStatusSetAvi} ":FILECOPY" $0
    ${KivFakeStatusOpen} "Copying ${PRODUCT}, please wait..." "${SETUP_TITLE}" $0
  ${EndIf}
  SetOutPath "$INSTDIR"
  ; The uninstall hook's copy: kivunins.ini and kivuninslog.txt lie beside it.
  File "${KIV_DIST}\kiv_inst.dll"
  SetOutPath "$INSTDIR\bin"
  File "/oname=kivrender.exe" "${KIV_SERVICE_EXE}"

  ; The cache beside the program, or in a folder at the root of another
  ; drive. Such a folder inherits write access for every user: its owner and
  ; access are replaced (SYSTEM and administrators full control, users read
  ; and run), since the service writes there and the uninstaller deletes it.
  StrCpy $0 $INSTDIR 2
  ${If} $CacheDrive == ""
  ${OrIf} $CacheDrive == $0
    StrCpy $CacheDir "$INSTDIR\cache"
    CreateDirectory "$CacheDir"
  ${Else}
    StrCpy $CacheDir "$CacheDrive\${PRODUCT} Cache"
    CreateDirectory "$CacheDir"
    !insertmacro _CacheAcl "/setowner *S-1-5-32-544 /T /C /Q"
    !insertmacro _CacheAcl "/reset /T /C /Q"
    !insertmacro _CacheAcl "/inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /Q"
  ${EndIf}
  FileOpen $2 "$CacheDir\frames.idx" w
  FileClose $2

  ; What the uninstall hook removes: the service, then the cache by a
  ; command. The program by its full path: a bare cmd.exe would be looked
  ; for in the uninstaller's folder first. The outer quotes are the profile
  ; reader's, which takes one pair off a value that starts and ends with one.
  WriteINIStr "$INSTDIR\kivunins.ini" "ServiceDelete" "Service0" "${KIV_SERVICE_NAME}"
  WriteINIStr "$INSTDIR\kivunins.ini" "CustomCommand" "Command0" '""$SYSDIR\cmd.exe" /c rd /s /q "$CacheDir""'

  ; The entry before the service: whatever fails below, the product can be
  ; removed.
  WriteUninstaller "$INSTDIR\uninst.exe"
  ${KivWriteUninstallEntry} "${PRODUCT}" "${PRODUCT}" "$INSTDIR\uninst.exe" "$INSTDIR\kiv_inst.dll"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${KIV_VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "CacheFolder" "$CacheDir"

  ${IfNot} ${Silent}
    ${KivFakeStatusSetAvi} ":BKW" $0
    ${KivFakeStatusOpen} "Starting the ${PRODUCT} render service..." "${SETUP_TITLE}" $0
  ${EndIf}
  ; An installed service is kept as it is (account, start type, recovery
  ; and whatever else an administrator set), and started again only when it
  ; ran before.
  ${If} $R0 = 0
    ; SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, LocalSystem
    ${KivServiceCreate} "${KIV_SERVICE_NAME}" 0x10 2 '${SERVICE_COMMAND}' "" "" $0
    ${If} $0 <> 1
      ${KivFakeStatusClose} $0
      DetailPrint "The render service could not be created."
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
  ${If} $R0 = 0
  ${OrIf} $R1 = 1
    ${KivServiceStart} "${KIV_SERVICE_NAME}" $0
    ${If} $0 <> 1
      ${KivFakeStatusClose} $0
      DetailPrint "The render service did not start."
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
  ${KivFakeStatusClose} $0
SectionEnd

; The hook's removal of a running service does not wait for it to stop: give
; it up to five seconds. A service still running was not stopped at all.
Function un.WaitForServiceGone
  ${For} $1 1 20
    ${KivServiceExists} "${KIV_SERVICE_NAME}" $0
    ${IfThen} $0 = 0 ${|} ${Break} ${|}
    ${KivServiceIsRunning} "${KIV_SERVICE_NAME}" $0
    ${IfThen} $0 = 1 ${|} ${Break} ${|}
    Sleep 250
  ${Next}
FunctionEnd

Section "Uninstall"
  ; Without its script the hook runs no command: the cache goes here.
  ${IfNot} ${FileExists} "$INSTDIR\kivunins.ini"
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "CacheFolder"
    ${IfThen} $0 != "" ${|} RMDir /r "$0" ${|}
  ${EndIf}
  ; Started as the entry says: uninst.exe -c"<install folder>\kiv_inst.dll".
  ${KivUninstInitialize} $0
  ${KivUninstUnInitialize} $0
  ; A missing or damaged kivunins.ini removed nothing: remove the service
  ; here.
  Call un.WaitForServiceGone
  ${KivServiceExists} "${KIV_SERVICE_NAME}" $0
  ${If} $0 = 1
    DetailPrint "Removing the render service..."
    ${KivServiceDelete} "${KIV_SERVICE_NAME}" $0
  ${EndIf}
  ; A service still registered keeps its program, the library and the entry:
  ; the product can be removed again once it stops.
  ${KivServiceExists} "${KIV_SERVICE_NAME}" $0
  ${If} $0 = 1
    DetailPrint "The ${KIV_SERVICE_NAME} service could not be removed."
    MessageBox MB_OK|MB_ICONSTOP "The ${KIV_SERVICE_NAME} service could not be removed. Stop it and run the uninstaller again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${KivUnload}
  Delete "$INSTDIR\kiv_inst.dll"
  Delete "$INSTDIR\kivunins.ini"
  Delete /REBOOTOK "$INSTDIR\bin\kivrender.exe"
  RMDir "$INSTDIR\bin"
  Delete "$INSTDIR\uninst.exe"
  ; kivuninslog.txt stays as the record of the removal.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

; Every way out unloads the library, so that no copy stays in use.
Function un.onUninstSuccess
  ${KivUnload}
FunctionEnd

Function un.onUninstFailed
  ${KivUnload}
FunctionEnd

Function un.onGUIEnd
  ${KivUnload}
FunctionEnd
