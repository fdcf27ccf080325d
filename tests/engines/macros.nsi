; The NSIS macros in an ANSI installer, or a Unicode one with -DKIV_UNICODE:
; each result, the error flag, the thread's locale around the drive chooser,
; an unload that cannot unload, and a register the macros must leave alone,
; into a file beside the installer.
!ifdef KIV_UNICODE
  Unicode true
  !define CHARSET unicode
  !define SCRIPT_NAME "KivDemo-Łódź-東京"
!else
  Unicode false
  !define CHARSET ansi
  !define SCRIPT_NAME "KivDemo-café"
!endif
!include "${__FILEDIR__}\..\..\integrations\nsis\kiv_inst.nsh"

Name "kiv macros"
OutFile "${KIV_OUT}\macros-${CHARSET}.exe"
RequestExecutionLevel user
; Not silent, so that the drive chooser shows (a silent run is a quiet one);
; the page closes by itself.
Page instfiles
AutoCloseWindow true

Section
  InitPluginsDir
  File "/oname=$PLUGINSDIR\kiv_inst.dll" "${KIV_DIST}\kiv_inst.dll"
  StrCpy $5 "kept"
  ${KivServiceExists} "KivNoSuchService" $0
  ClearErrors
  ; A high-ANSI text that the code page holds passes.
  ${KivFakeStatusOpen} "The macros at work, café" "kiv macros ${CHARSET}" $1
  StrCpy $R1 "clear"
  ${IfThen} ${Errors} ${|} StrCpy $R1 "set" ${|}
  ${KivGetWindowByTitle} 0 "kiv macros ${CHARSET}" $2
  ${IfThen} $2 <> 0 ${|} StrCpy $2 "shown" ${|}
  ${KivFakeStatusClose} $3
  ${KivGetWindowByTitle} 0 "kiv macros ${CHARSET}" $6
  ${KivStopAllProcessStarters} $4
  ; The test presses Next. The chooser is asked in Polish; the thread's
  ; locale must be the installer's again afterwards.
  System::Call 'kernel32::GetThreadLocale()i.R6'
  StrCpy $R7 $LANGUAGE
  StrCpy $LANGUAGE 1045
  ${KivAskDrive} 0 "kiv drive ${CHARSET}" "Pick a drive" $7 $8
  StrCpy $LANGUAGE $R7
  System::Call 'kernel32::GetThreadLocale()i.R7'
  StrCpy $R8 "kept"
  ${IfThen} $R6 <> $R7 ${|} StrCpy $R8 "changed" ${|}
  StrCpy $R0 ""
!ifdef KIV_UNICODE
  ; Texts outside the code page reach the window as they are.
  ClearErrors
  ${KivFakeStatusOpen} "Łódź 東京" "kiv macros Łódź" $R3
  StrCpy $R0 "clear"
  ${IfThen} ${Errors} ${|} StrCpy $R0 "set" ${|}
  ${KivGetWindowByTitle} 0 "kiv macros Łódź" $R4
  System::Call 'user32::GetDlgItemTextW(p R4, i 1000, w .R6, i ${NSIS_MAX_STRLEN})'
  ${KivFakeStatusClose} $R5
  StrCpy $R4 "other"
  ${IfThen} $R6 S== "Łódź 東京" ${|} StrCpy $R4 "exact" ${|}
  StrCpy $R0 " wide=$R3,$R0,$R4"
!endif
  ; The uninstall script: made afresh over an earlier file, an entry in
  ; UTF-16 (the test reads the file), put in place; then a replace while the
  ; script is held open (FileOpen shares reading and writing, not deletion)
  ; fails, leaves the held script, and deletes the new one.
  FileOpen $9 "$EXEDIR\script-${CHARSET}.new" w
  FileWrite $9 "an earlier file"
  FileClose $9
  ClearErrors
  ${KivNewUnicodeScript} "$EXEDIR\script-${CHARSET}.new" $R3
  ${KivScriptEntry} "$EXEDIR\script-${CHARSET}.new" "ServiceDelete" "Service0" "${SCRIPT_NAME}" $R4
  ${KivReplaceScript} "$EXEDIR\script-${CHARSET}.new" "$EXEDIR\script-${CHARSET}.ini" $R5
  StrCpy $R2 "clear"
  ${IfThen} ${Errors} ${|} StrCpy $R2 "set" ${|}
  StrCpy $R2 " script=$R3,$R4,$R5,$R2"
  ${KivNewUnicodeScript} "$EXEDIR\script-${CHARSET}.new" $R3
  FileOpen $9 "$EXEDIR\script-${CHARSET}.ini" r
  ClearErrors
  ${KivReplaceScript} "$EXEDIR\script-${CHARSET}.new" "$EXEDIR\script-${CHARSET}.ini" $R4
  StrCpy $R5 "clear"
  ${IfThen} ${Errors} ${|} StrCpy $R5 "set" ${|}
  FileClose $9
  StrCpy $R6 "gone"
  ${IfThen} ${FileExists} "$EXEDIR\script-${CHARSET}.new" ${|} StrCpy $R6 "left" ${|}
  StrCpy $R2 "$R2 held=$R4,$R5,$R6"
  ; Protected folders: one that is there is not made again (183); a file is
  ; not protected as a folder (267).
  ${KivMakeProtectedFolder} "$EXEDIR" "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" $R3
  ${KivProtectFolder} "$EXEDIR\script-${CHARSET}.ini" "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" $R4
  StrCpy $R2 "$R2 folders=$R3,$R4"
  ${KivUnload}
  ; A module that cannot go: the unload gives up and says so.
  ${KivServiceExists} "KivNoSuchService" $R6
  System::Call 'kernel32::GetModuleHandleEx(i 1, t "$PLUGINSDIR\kiv_inst.dll", *p .R6)'
  ClearErrors
  ${KivUnload}
  StrCpy $R9 "returned"
  ${IfThen} ${Errors} ${|} StrCpy $R9 "gave-up" ${|}
  FileOpen $9 "$EXEDIR\macros-${CHARSET}.txt" w
  FileWrite $9 "exists=$0 open=$1,$R1 window=$2 close=$3 after-close=$6 stopall=$4 drive=$7,$8 locale=$R8$R0$R2 pinned=$R9 register=$5"
  FileClose $9
SectionEnd
