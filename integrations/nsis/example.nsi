; A complete installer of a small Kivelstrand payload with kiv_inst.dll:
; the drive chooser (interactive only), a status window with a clip during the
; long steps, the render service created and started, the uninstall script
; kivunins.ini beside the library, and an uninstaller that removes it all
; through the library's uninstall hook.
;
;   makensis -DKIV_DIST=<folder of kiv_inst.dll> -DKIV_SERVICE_EXE=<service program> example.nsi
;
; Silent:  kivelstrand-setup.exe /S    (Program Files\Kivelstrand, no questions)

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
!ifndef KIV_OUTFILE
  !define KIV_OUTFILE "kivelstrand-setup.exe"
!endif
!define PRODUCT "Kivelstrand"
!define SETUP_TITLE "Kivelstrand Setup"

!addincludedir "${__FILEDIR__}"
!include "kiv_inst.nsh"
!include LogicLib.nsh

Name "${PRODUCT}"
OutFile "${KIV_OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
RequestExecutionLevel admin

Page custom ChooseDrive
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
  ; The installer's own copy of the library, for the calls below.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\kiv_inst.dll" "${KIV_DIST}\kiv_inst.dll"
FunctionEnd

; The installer's copy is loaded until here; unloaded, the installer can
; delete its temporary folder.
Function .onGUIEnd
  ${KivUnload}
FunctionEnd

; Pages are skipped in a silent installer, so the chooser only shows when
; someone is there to answer it.
Function ChooseDrive
  ${KivAskDrive} 20 "${SETUP_TITLE}" \
      "Setup will install ${PRODUCT} on the drive you select below." $0 $1
  ${If} $0 = 1
    StrCpy $INSTDIR "$1\${PRODUCT}"
  ${Else}
    Quit
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  ${KivFakeStatusSetAvi} ":FILECOPY" $0
  ${KivFakeStatusOpen} "Copying ${PRODUCT}, please wait..." "${SETUP_TITLE}" $0
  SetOutPath "$INSTDIR"
  ; The uninstall hook's copy: kivunins.ini and kivuninslog.txt lie beside it.
  File "${KIV_DIST}\kiv_inst.dll"
  SetOutPath "$INSTDIR\bin"
  File "/oname=kivrender.exe" "${KIV_SERVICE_EXE}"
  CreateDirectory "$INSTDIR\cache"
  FileOpen $2 "$INSTDIR\cache\frames.idx" w
  FileClose $2

  ${KivFakeStatusSetAvi} ":BKW" $0
  ${KivFakeStatusOpen} "Starting the ${PRODUCT} render service..." "${SETUP_TITLE}" $0
  ${KivServiceExists} "${KIV_SERVICE_NAME}" $0
  ${If} $0 = 0
    ; SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, LocalSystem
    ${KivServiceCreate} "${KIV_SERVICE_NAME}" 0x10 2 '"$INSTDIR\bin\kivrender.exe" normal' "" "" $0
  ${EndIf}
  ${KivServiceStart} "${KIV_SERVICE_NAME}" $0
  ${IfThen} $0 <> 1 ${|} DetailPrint "The render service did not start." ${|}
  ${KivFakeStatusClose} $0

  ; What the uninstall hook removes: the service, then the cache by a command.
  WriteINIStr "$INSTDIR\kivunins.ini" "ServiceDelete" "Service0" "${KIV_SERVICE_NAME}"
  WriteINIStr "$INSTDIR\kivunins.ini" "CustomCommand" "Command0" 'cmd.exe /c rd /s /q "$INSTDIR\cache"'

  WriteUninstaller "$INSTDIR\uninst.exe"
  ${KivWriteUninstallEntry} "${PRODUCT}" "${PRODUCT}" "$INSTDIR\uninst.exe" "$INSTDIR\kiv_inst.dll"
SectionEnd

Section "Uninstall"
  ; Started as the entry says: uninst.exe -c"<install folder>\kiv_inst.dll".
  ${KivUninstInitialize} $0
  ${KivUninstUnInitialize} $0
  ${KivUnload}
  Delete "$INSTDIR\kiv_inst.dll"
  Delete "$INSTDIR\kivunins.ini"
  Delete /REBOOTOK "$INSTDIR\bin\kivrender.exe"
  RMDir "$INSTDIR\bin"
  Delete "$INSTDIR\uninst.exe"
  ; kivuninslog.txt stays as the record of the removal.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd
