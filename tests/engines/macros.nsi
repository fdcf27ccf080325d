; The NSIS macros in an ANSI installer, or a Unicode one with -DKIV_UNICODE:
; each result, and a register the macros must leave alone, into a file
; beside the installer.
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

Section
  InitPluginsDir
  File "/oname=$PLUGINSDIR\kiv_inst.dll" "${KIV_DIST}\kiv_inst.dll"
  StrCpy $5 "kept"
  ${KivServiceExists} "KivNoSuchService" $0
  ${KivFakeStatusOpen} "The macros at work" "kiv macros ${CHARSET}" $1
  ${KivGetWindowByTitle} 0 "kiv macros ${CHARSET}" $2
  ${IfThen} $2 <> 0 ${|} StrCpy $2 "shown" ${|}
  ${KivFakeStatusClose} $3
  ${KivGetWindowByTitle} 0 "kiv macros ${CHARSET}" $6
  ${KivStopAllProcessStarters} $4
  ; The test presses Next.
  ${KivAskDrive} 0 "kiv drive ${CHARSET}" "Pick a drive" $7 $8
  ${KivUnload}
  FileOpen $9 "$EXEDIR\macros-${CHARSET}.txt" w
  FileWrite $9 "exists=$0 open=$1 window=$2 close=$3 after-close=$6 stopall=$4 drive=$7,$8 register=$5"
  FileClose $9
SectionEnd
