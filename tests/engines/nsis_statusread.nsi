; Reads the text of a status window of another process as the user sees it:
; while a window captioned CAPTION shows (up to a minute for it to come),
; every new text of its line (control 1000) goes, as UTF-16, into
; status-texts.txt beside this program. Then, as a user would, it presses
; button 1 of the dialog captioned DONE once that shows (a caption outside
; the code page, which the ANSI fixtures cannot name).
;
;   makensis -DCAPTION=<caption> -DDONE=<caption> -DKIV_OUT=<folder> nsis_statusread.nsi
Unicode true
!include LogicLib.nsh

Name "status reader"
OutFile "${KIV_OUT}\statusread.exe"
RequestExecutionLevel user
SilentInstall silent

Section
  FileOpen $9 "$EXEDIR\status-texts.txt" w
  StrCpy $2 ""
  StrCpy $3 0
  ${For} $1 1 1200
    FindWindow $0 "#32770" "${CAPTION}"
    GetDlgItem $4 $0 1000
    ${If} $4 <> 0
      System::Call 'user32::GetWindowTextW(p r4, w .r5, i ${NSIS_MAX_STRLEN})'
      ${If} $5 S!= $2
        FileWriteUTF16LE $9 "$5$\n"
        StrCpy $2 $5
      ${EndIf}
      StrCpy $3 1
    ${ElseIf} $3 = 1
      ${Break}
    ${EndIf}
    Sleep 50
  ${Next}
  FileClose $9
  ${For} $1 1 400
    FindWindow $0 "#32770" "${DONE}"
    ${If} $0 <> 0
      ; WM_COMMAND, IDOK
      SendMessage $0 0x111 1 0
      ${Break}
    ${EndIf}
    Sleep 50
  ${Next}
SectionEnd
