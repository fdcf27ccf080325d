; Reads the example's windows of another process as the user sees them, and
; answers them as a user would: the drive chooser captioned CAPTION (its Next
; button's text and its prompt, then Next pressed), then, while the status
; window captioned CAPTION shows, every new text of its line (control 1000);
; then it presses button 1 of the dialog captioned DONE once that shows (a
; caption outside the code page, which the ANSI fixtures cannot name). Each
; text read goes, as UTF-16, on a line of status-texts.txt beside this
; program. Each wait ends after a minute.
;
;   makensis -DCAPTION=<caption> -DDONE=<caption> -DKIV_OUT=<folder> nsis_statusread.nsi
Unicode true
!include LogicLib.nsh

Name "status reader"
OutFile "${KIV_OUT}\statusread.exe"
RequestExecutionLevel user
SilentInstall silent

; Waits for a visible dialog captioned TITLE that holds control ID (shown,
; it has its texts): the dialog into $0, the control into $4 (0 when none
; came).
!macro _Await TITLE ID
  StrCpy $4 0
  ${For} $1 1 1200
    FindWindow $0 "#32770" "${TITLE}"
    GetDlgItem $4 $0 ${ID}
    System::Call 'user32::IsWindowVisible(p r0)i.r3'
    ${If} $4 <> 0
    ${AndIf} $3 <> 0
      ${Break}
    ${EndIf}
    StrCpy $4 0
    Sleep 50
  ${Next}
!macroend

Section
  FileOpen $9 "$EXEDIR\status-texts.txt" w
  ; The chooser: IDC_DRIVE_NEXT and IDC_DRIVE_TEXT.
  !insertmacro _Await "${CAPTION}" 3
  ${If} $4 <> 0
    System::Call 'user32::GetWindowTextW(p r4, w .r5, i ${NSIS_MAX_STRLEN})'
    ; An edit control: its text only by WM_GETTEXT from another process.
    GetDlgItem $6 $0 1015
    System::Call 'user32::SendMessageW(p r6, i 0x0D, i ${NSIS_MAX_STRLEN}, w .r6)'
    FileWriteUTF16LE $9 "chooser: $5 | $6$\n"
    ; WM_COMMAND, BN_CLICKED of Next
    SendMessage $0 0x111 3 $4
  ${EndIf}
  ; The status window.
  !insertmacro _Await "${CAPTION}" 1000
  StrCpy $2 ""
  ${DoWhile} $4 <> 0
    System::Call 'user32::GetWindowTextW(p r4, w .r5, i ${NSIS_MAX_STRLEN})'
    ${If} $5 S!= $2
      FileWriteUTF16LE $9 "$5$\n"
      StrCpy $2 $5
    ${EndIf}
    Sleep 50
    FindWindow $0 "#32770" "${CAPTION}"
    GetDlgItem $4 $0 1000
  ${Loop}
  FileClose $9
  !insertmacro _Await "${DONE}" 1
  ; WM_COMMAND, IDOK
  ${IfThen} $4 <> 0 ${|} SendMessage $0 0x111 1 0 ${|}
SectionEnd
