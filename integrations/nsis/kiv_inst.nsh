; kiv_inst.nsh: kiv_inst.dll for NSIS scripts, through the System plug-in.
;
;   !define KIV_INST_DLL "$PLUGINSDIR\kiv_inst.dll"   ; optional, this is the default
;   !include "kiv_inst.nsh"
;   Function .onInit
;     InitPluginsDir
;     File "/oname=$PLUGINSDIR\kiv_inst.dll" "kiv_inst.dll"
;   FunctionEnd
;   ...
;   ${KivServiceExists} "KivRenderServer" $0
;
; One macro per export, named Kiv and the export's name: the export's
; arguments in order, its result last. The library is loaded by the first call
; and stays loaded to the end of the installer (or until ${KivUnload}).
; Installer code loads KIV_INST_DLL; uninstaller code (un. functions, the
; Uninstall section) loads KIV_INST_UNINST_DLL, default
; "$INSTDIR\kiv_inst.dll", the copy beside kivunins.ini.
;
; The macros do the host's duties a script cannot see: the animation control's
; class is registered before the status window opens, and every macro
; dispatches the window messages of the thread it runs on afterwards. The
; status window belongs to that thread: the installer's worker thread inside
; sections of an interactive installer, its main thread in functions and in a
; silent installer. Call ${KivPumpMessages} now and then during long loops.
; Texts go to the library as ANSI strings, from Unicode and ANSI scripts alike.
; Registers and the stack are left as they were; only result variables change.

!ifndef KIV_INST_NSH
!define KIV_INST_NSH

!include LogicLib.nsh

!ifndef KIV_INST_DLL
  !define KIV_INST_DLL "$PLUGINSDIR\kiv_inst.dll"
!endif
!ifndef KIV_INST_UNINST_DLL
  !define KIV_INST_UNINST_DLL "$INSTDIR\kiv_inst.dll"
!endif

; Every export but DllMain is cdecl (?c); a stdcall call would leave the
; arguments on the stack.
!macro _KivCall PROTO
  !ifdef __UNINSTALL__
    System::Call '"${KIV_INST_UNINST_DLL}"::${PROTO} ?c'
  !else
    System::Call '"${KIV_INST_DLL}"::${PROTO} ?c'
  !endif
!macroend

; The library's path for the code being compiled, into VAR.
!macro _KivDllPath VAR
  !ifdef __UNINSTALL__
    StrCpy ${VAR} "${KIV_INST_UNINST_DLL}"
  !else
    StrCpy ${VAR} "${KIV_INST_DLL}"
  !endif
!macroend

; Dispatches what is waiting in this thread's queue: the status window's
; start-up timer, its posted close, its painting. A quit request is put back
; for the installer's own loop.
!macro KivPumpMessages
  System::Store "s"
  System::Alloc 28
  Pop $0
  ${Do}
    System::Call 'user32::PeekMessageA(p r0, p 0, i 0, i 0, i 1)i.r1'
    ${If} $1 = 0
      ${ExitDo}
    ${EndIf}
    System::Call '*$0(p, i.r2, p.r3)'
    ${If} $2 = 0x12
      System::Call 'user32::PostQuitMessage(i r3)'
      ${ExitDo}
    ${EndIf}
    System::Call 'user32::TranslateMessage(p r0)'
    System::Call 'user32::DispatchMessageA(p r0)'
  ${Loop}
  System::Free $0
  System::Store "l"
!macroend
!define KivPumpMessages "!insertmacro KivPumpMessages"

; Calls one export with its arguments on the stack (first argument on top),
; dispatches messages and pops the result into RESULT.
!macro _KivInvoke PROTO RESULT
  !insertmacro _KivCall "${PROTO}"
  !insertmacro KivPumpMessages
  Pop ${RESULT}
!macroend

!macro KivFakeStatusOpen TEXT TITLE RESULT
  Push `${TITLE}`
  Push `${TEXT}`
  ; The status window holds a SysAnimate32 control: the host registers its
  ; class (ICC_ANIMATE_CLASS) before the window opens.
  System::Store "s"
  System::Call '*(i 8, i 0x80)p.r0'
  System::Call 'comctl32::InitCommonControlsEx(p r0)'
  System::Free $0
  System::Store "l"
  !insertmacro _KivInvoke 'FakeStatusOpen(m s, m s)i.s' ${RESULT}
!macroend
!define KivFakeStatusOpen "!insertmacro KivFakeStatusOpen"

!macro KivFakeStatusClose RESULT
  !insertmacro _KivInvoke 'FakeStatusClose()i.s' ${RESULT}
!macroend
!define KivFakeStatusClose "!insertmacro KivFakeStatusClose"

!macro KivFakeStatusSetAvi NAME RESULT
  Push `${NAME}`
  !insertmacro _KivInvoke 'FakeStatusSetAvi(m s)i.s' ${RESULT}
!macroend
!define KivFakeStatusSetAvi "!insertmacro KivFakeStatusSetAvi"

!macro KivServiceStart NAME RESULT
  Push `${NAME}`
  !insertmacro _KivInvoke 'ServiceStart(m s)i.s' ${RESULT}
!macroend
!define KivServiceStart "!insertmacro KivServiceStart"

!macro KivServiceDelete NAME RESULT
  Push `${NAME}`
  !insertmacro _KivInvoke 'ServiceDelete(m s)i.s' ${RESULT}
!macroend
!define KivServiceDelete "!insertmacro KivServiceDelete"

!macro KivServiceExists NAME RESULT
  Push `${NAME}`
  !insertmacro _KivInvoke 'ServiceExists(m s)i.s' ${RESULT}
!macroend
!define KivServiceExists "!insertmacro KivServiceExists"

!macro KivServiceIsRunning NAME RESULT
  Push `${NAME}`
  !insertmacro _KivInvoke 'ServiceIsRunning(m s)i.s' ${RESULT}
!macroend
!define KivServiceIsRunning "!insertmacro KivServiceIsRunning"

; An empty ACCOUNT or PASSWORD goes as a null pointer: the service runs as
; LocalSystem.
!macro KivServiceCreate NAME TYPE START PATH ACCOUNT PASSWORD RESULT
  Push `${PASSWORD}`
  Push `${ACCOUNT}`
  Push `${PATH}`
  Push `${START}`
  Push `${TYPE}`
  Push `${NAME}`
  System::Store "s r0 r1 r2 r3 r4 r5"
  StrCpy $6 "r4"
  ${IfThen} $4 == "" ${|} StrCpy $6 "n" ${|}
  StrCpy $7 "r5"
  ${IfThen} $5 == "" ${|} StrCpy $7 "n" ${|}
  !insertmacro _KivCall 'ServiceCreate(m r0, i r1, i r2, m r3, m $6, m $7)i.s'
  System::Store "l"
  !insertmacro KivPumpMessages
  Pop ${RESULT}
!macroend
!define KivServiceCreate "!insertmacro KivServiceCreate"

; The result is a one-byte boolean: only its low byte counts.
!macro KivStopAllProcessStarters RESULT
  !insertmacro _KivInvoke 'StopAllProcessStarters()b.s' ${RESULT}
!macroend
!define KivStopAllProcessStarters "!insertmacro KivStopAllProcessStarters"

; PARENT is a window handle (0: all top-level windows); RESULT the window
; found, 0 for none.
!macro KivGetWindowByTitle PARENT TITLE RESULT
  Push `${TITLE}`
  Push `${PARENT}`
  !insertmacro _KivInvoke 'GetWindowByTitle(p s, m s)p.s' ${RESULT}
!macroend
!define KivGetWindowByTitle "!insertmacro KivGetWindowByTitle"

; RESULT: 1 Next, 2 Back, 3 Cancel, 4 no drive to list, -1 no dialog. DRIVE
; is "C:" after Next, empty otherwise.
!macro KivAskDrive REQUIRED_MB TITLE TEXT RESULT DRIVE
  Push `${TEXT}`
  Push `${TITLE}`
  Push `${REQUIRED_MB}`
  System::Store "s r0 r1 r2"
  !insertmacro _KivCall 'AskDrive(i r0, m .r3, m r1, m r2)i.r4'
  ${IfThen} $4 != 1 ${|} StrCpy $3 "" ${|}
  Push $3
  Push $4
  System::Store "l"
  !insertmacro KivPumpMessages
  Pop ${RESULT}
  Pop ${DRIVE}
!macroend
!define KivAskDrive "!insertmacro KivAskDrive"

; Runs the uninstall hook with the loaded library's own module handle. The
; uninstaller must have been started with -c"<path of kiv_inst.dll>": see
; KivWriteUninstallEntry.
!macro KivUninstInitialize RESULT
  System::Store "s"
  !insertmacro _KivDllPath $1
  System::Call 'kernel32::LoadLibraryA(m r1)p.r0'
  !insertmacro _KivCall 'UninstInitialize(i 0, p r0)i.r2'
  Push $2
  System::Store "l"
  !insertmacro KivPumpMessages
  Pop ${RESULT}
!macroend
!define KivUninstInitialize "!insertmacro KivUninstInitialize"

!macro KivUninstUnInitialize RESULT
  !insertmacro _KivInvoke 'UninstUnInitialize()i.s' ${RESULT}
!macroend
!define KivUninstUnInitialize "!insertmacro KivUninstUnInitialize"

; Closes a status window still open, lets it go, and unloads the library, so
; that its file can be deleted. Does nothing when it is not loaded.
!macro KivUnload
  System::Store "s"
  !insertmacro _KivDllPath $1
  System::Call 'kernel32::GetModuleHandleA(m r1)p.r0'
  ${If} $0 P<> 0
    !insertmacro _KivCall 'FakeStatusClose()i'
    !insertmacro KivPumpMessages
    ${Do}
      System::Call 'kernel32::FreeLibrary(p r0)'
      System::Call 'kernel32::GetModuleHandleA(m r1)p.r0'
    ${LoopUntil} $0 P= 0
  ${EndIf}
  System::Store "l"
!macroend
!define KivUnload "!insertmacro KivUnload"

; Writes the entry of the system's list of programs under SHCTX (HKLM after
; SetShellVarContext all). Both uninstall commands carry -c"HOOK_DLL", the
; option the uninstall hook finds its folder by; NSIS passes it on to the copy
; of the uninstaller that it starts from the temporary folder.
!macro KivWriteUninstallEntry KEY DISPLAY_NAME UNINSTALLER HOOK_DLL
  WriteRegStr SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${KEY}" "DisplayName" "${DISPLAY_NAME}"
  WriteRegStr SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${KEY}" "UninstallString" '"${UNINSTALLER}" -c"${HOOK_DLL}"'
  WriteRegStr SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${KEY}" "QuietUninstallString" '"${UNINSTALLER}" /S -c"${HOOK_DLL}"'
!macroend
!define KivWriteUninstallEntry "!insertmacro KivWriteUninstallEntry"

!endif ; KIV_INST_NSH
