; The hang soak's NSIS installer: an interactive Unicode installer whose one
; section opens the status window on NSIS's worker thread, step after step,
; each step waiting without dispatching, while the wizard's own thread draws
; its details list in the installer's language. /LANG= picks English, German,
; Hebrew or Arabic. Exit code 2 when any macro gave another result than 1.
;
;   makensis -DKIV_DIST=<bin> -DKIV_OUT=<folder> hang_soak.nsi
Unicode true
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "${__FILEDIR__}\..\..\integrations\nsis\kiv_inst.nsh"

!ifndef STEPS
  !define STEPS 6
!endif

Name "Kiv soak"
OutFile "${KIV_OUT}\hang_soak_nsis.exe"
RequestExecutionLevel user
ShowInstDetails show
AutoCloseWindow true
Page instfiles

LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Hebrew.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Arabic.nlf"

; One caption in every language: the soak's clicker finds the wizard by it.
Caption "$(WizardCaption)"
LangString WizardCaption ${LANG_ENGLISH} "Kiv soak wizard"
LangString WizardCaption ${LANG_GERMAN} "Kiv soak wizard"
LangString WizardCaption ${LANG_HEBREW} "Kiv soak wizard"
LangString WizardCaption ${LANG_ARABIC} "Kiv soak wizard"
LangString StatusTitle ${LANG_ENGLISH} "Kivelstrand Setup"
LangString StatusTitle ${LANG_GERMAN} "Kivelstrand-Installation"
LangString StatusTitle ${LANG_HEBREW} "התקנת Kivelstrand"
LangString StatusTitle ${LANG_ARABIC} "تثبيت Kivelstrand"
LangString StepText ${LANG_ENGLISH} "Copying the Kivelstrand files, please wait..."
LangString StepText ${LANG_GERMAN} "Kivelstrand-Dateien werden kopiert, bitte warten..."
LangString StepText ${LANG_HEBREW} "מעתיק את קבצי Kivelstrand, נא להמתין..."
LangString StepText ${LANG_ARABIC} "جارٍ نسخ ملفات Kivelstrand، يرجى الانتظار..."
LangString StepDone ${LANG_ENGLISH} "Done:"
LangString StepDone ${LANG_GERMAN} "Fertig:"
LangString StepDone ${LANG_HEBREW} "הושלם:"
LangString StepDone ${LANG_ARABIC} "تم:"

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LANG=" $1
  ${IfNotThen} ${Errors} ${|} StrCpy $LANGUAGE $1 ${|}
FunctionEnd

Section
  InitPluginsDir
  File "/oname=$PLUGINSDIR\kiv_inst.dll" "${KIV_DIST}\kiv_inst.dll"
  StrCpy $9 0
  ${For} $8 1 ${STEPS}
    DetailPrint "$(StepText) $8/${STEPS}"
    ${KivFakeStatusOpen} "$(StepText) $8/${STEPS}" "$(StatusTitle)" $0
    ${IfThen} $0 <> 1 ${|} IntOp $9 $9 + 1 ${|}
    ; A long step: the worker thread dispatches nothing meanwhile.
    Sleep 500
    DetailPrint "$(StepDone) $(StepText) $8/${STEPS}"
    ${KivFakeStatusClose} $0
    ${IfThen} $0 <> 1 ${|} IntOp $9 $9 + 1 ${|}
  ${Next}
  ${If} $9 <> 0
    DetailPrint "$9 results other than 1"
    SetErrorLevel 2
  ${EndIf}
SectionEnd

Function .onGUIEnd
  ${KivUnload}
FunctionEnd
