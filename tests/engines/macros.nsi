; The NSIS macros in an ANSI installer, or a Unicode one with -DKIV_UNICODE:
; each result, the error flag, and a register the macros must leave alone,
; into a file beside the installer.
!ifdef KIV_UNICODE
  Unicode true
  !define CHARSET unicode
!else
  Unicode false
  !define CHARSET ansi
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
  ; The test presses Next.
  ${KivAskDrive} 0 "kiv drive ${CHARSET}" "Pick a drive" $7 $8
  StrCpy $R2 ""
!ifdef KIV_UNICODE
  ; One it cannot hold is refused before the library sees it.
  ClearErrors
  ${KivFakeStatusOpen} "Łódź 東京" "kiv macros refused" $R3
  StrCpy $R2 "clear"
  ${IfThen} ${Errors} ${|} StrCpy $R2 "set" ${|}
  ${KivGetWindowByTitle} 0 "kiv macros refused" $R4
  ${IfThen} $R4 <> 0 ${|} StrCpy $R4 "shown" ${|}
  ${KivFakeStatusClose} $R5
  StrCpy $R2 " refused=$R3,$R2,window=$R4"
!endif
  ${KivUnload}
  FileOpen $9 "$EXEDIR\macros-${CHARSET}.txt" w
  FileWrite $9 "exists=$0 open=$1,$R1 window=$2 close=$3 after-close=$6 stopall=$4 drive=$7,$8$R2 register=$5"
  FileClose $9
SectionEnd
