; kiv_inst.nsh: kiv_inst.dll for NSIS scripts, through the System plug-in.
;
;   !define KIV_INST_DLL "$PLUGINSDIR\kiv_inst.dll"   ; optional, this is the default
;   !include "kiv_inst.nsh"
;   Function .onInit
;     InitPluginsDir
;     File "/oname=$PLUGINSDIR\kiv_inst.dll" "${KIV_INST_DLL_FILE}"
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
; A Unicode script (Unicode true) calls the library's wide exports: every
; text arrives exactly as the script has it, whatever the system's code page.
; An ANSI script calls the narrow ones with its ANSI texts. The drive chooser
; speaks the installer's language ($LANGUAGE).
; A silent installer or uninstaller runs the library in its quiet mode.
; ${KIV_INST_DLL_FILE} is the DLL for the installer's target (x86-unicode,
; x86-ansi, amd64-unicode), from the release's plug-in folders. The uninstall
; script is written afresh in UTF-16 and put in the old one's place
; (${KivNewUnicodeScript}, ${KivScriptEntry}, ${KivReplaceScript}).
; Registers and the stack are left as they were; only result variables change.

!ifndef KIV_INST_NSH
!define KIV_INST_NSH

!include LogicLib.nsh

; The installer's target, named as NSIS names its plug-in folders: a 64-bit
; installer loads only a 64-bit DLL and a 32-bit one only a 32-bit DLL.
!if ${NSIS_PTR_SIZE} > 4
  !define KIV_TARGET amd64-unicode
!else ifdef NSIS_UNICODE
  !define KIV_TARGET x86-unicode
!else
  !define KIV_TARGET x86-ansi
!endif
; The library file that File takes for this target: Plugins\<target> of the
; release, two folders above this include.
!ifndef KIV_PLUGINS
  !define KIV_PLUGINS "${__FILEDIR__}\..\..\Plugins"
!endif
!ifndef KIV_INST_DLL_FILE
  !define KIV_INST_DLL_FILE "${KIV_PLUGINS}\${KIV_TARGET}\kiv_inst.dll"
!endif
!ifndef KIV_INST_DLL
  !define KIV_INST_DLL "$PLUGINSDIR\kiv_inst.dll"
!endif
!ifndef KIV_INST_UNINST_DLL
  !define KIV_INST_UNINST_DLL "$INSTDIR\kiv_inst.dll"
!endif

; Every export but DllMain is cdecl (?c); a stdcall call would leave the
; arguments on the stack. A silent installer or uninstaller tells the library
; so before every call (it reads the variable at every call): no box then
; waits for a person who is not there, and the hook shows no status window.
!macro _KivCall PROTO
  ${If} ${Silent}
    System::Call 'kernel32::SetEnvironmentVariable(t "KIV_INST_QUIET", t "1")'
  ${EndIf}
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

; A call the System plug-in could not make gives "error" in $R7. When the
; library did not load, say which one this installer needs: a 64-bit
; installer cannot load the 32-bit DLL, nor a 32-bit one the 64-bit DLL, and
; the system's error alone does not say so. To the details list and the
; debugger.
!macro _KivLoadCheck
  ${If} $R7 == "error"
    !insertmacro _KivDllPath $R6
    System::Call 'kernel32::LoadLibraryW(w R6)p.R8 ?e'
    Pop $R9
    ${If} $R8 P= 0
      StrCpy $R9 "$R6 did not load (error $R9): this ${KIV_TARGET} installer needs the kiv_inst.dll of Plugins\${KIV_TARGET}."
      DetailPrint $R9
      ; Through a register: the System plug-in reads a quoted text with a
      ; colon in it as empty. In the ANSI code page, as the library's own
      ; debugger lines are.
      StrCpy $R9 "kiv_inst.nsh: $R9$\n"
      System::Call 'kernel32::OutputDebugStringA(m R9)'
    ${Else}
      System::Call 'kernel32::FreeLibrary(p R8)'
    ${EndIf}
  ${EndIf}
!macroend

; At most this many messages per ${KivPumpMessages}: a timer that fires
; faster than the loop drains the queue cannot hold the installer.
!ifndef KIV_PUMP_LIMIT
  !define KIV_PUMP_LIMIT 100
!endif

; Dispatches what is waiting in this thread's queue: the status window's
; start-up timer, its posted close, its painting. A quit request is put back
; for the installer's own loop.
; MSG: window, message, wParam, lParam, time, point; the System plug-in lays
; members out without padding, so a 64-bit MSG spells out the four bytes
; after the message.
!if ${NSIS_PTR_SIZE} > 4
  !define _KIV_MSG_HEAD "p, i.r2, i, p.r3"
!else
  !define _KIV_MSG_HEAD "p, i.r2, p.r3"
!endif
!macro KivPumpMessages
  System::Store "s"
  System::Alloc 48
  Pop $0
  StrCpy $4 0
  ${DoWhile} $4 < ${KIV_PUMP_LIMIT}
    IntOp $4 $4 + 1
    System::Call 'user32::PeekMessage(p r0, p 0, i 0, i 0, i 1)i.r1'
    ${If} $1 = 0
      ${ExitDo}
    ${EndIf}
    System::Call '*$0(${_KIV_MSG_HEAD})'
    ${If} $2 = 0x12
      System::Call 'user32::PostQuitMessage(i r3)'
      ${ExitDo}
    ${EndIf}
    System::Call 'user32::TranslateMessage(p r0)'
    System::Call 'user32::DispatchMessage(p r0)'
  ${Loop}
  System::Free $0
  System::Store "l"
!macroend
!define KivPumpMessages "!insertmacro KivPumpMessages"

; Texts. A Unicode installer calls the wide export (the name ending in W)
; and an ANSI one the narrow export, each with the installer's own strings.
!ifdef NSIS_UNICODE
  !define _KIV_W W
  !define /math _KIV_ANSI_BYTES ${NSIS_MAX_STRLEN} * 2
!else
  !define _KIV_W ""
!endif

; Opens a call: saves the registers; $R0 to $R5 will hold the copies of the
; texts in $0 to $5 (0: none, a null pointer).
!macro _KivBegin
  System::Store "s"
  StrCpy $R0 0
  StrCpy $R1 0
  StrCpy $R2 0
  StrCpy $R3 0
  StrCpy $R4 0
  StrCpy $R5 0
!macroend

; A copy of the text in $N, in the installer's own characters, its address
; into $RN.
!macro _KivText N
  System::Call '*(&t${NSIS_MAX_STRLEN} r${N})p.R${N}'
!macroend

; Closes a call: calls PROTO (its arguments the $RN copies, its result into
; $R7), frees the copies, restores the registers, dispatches messages and
; pops the result into RESULT.
!macro _KivEnd PROTO RESULT
  !insertmacro _KivCall '${PROTO}'
  !insertmacro _KivLoadCheck
  System::Free $R0
  System::Free $R1
  System::Free $R2
  System::Free $R3
  System::Free $R4
  System::Free $R5
  Push $R7
  System::Store "l"
  !insertmacro KivPumpMessages
  Pop ${RESULT}
!macroend

; An export whose one argument is a text.
!macro _KivTextCall FUNCTION TEXT RESULT
  Push `${TEXT}`
  !insertmacro _KivBegin
  Pop $0
  !insertmacro _KivText 0
  !insertmacro _KivEnd '${FUNCTION}${_KIV_W}(p R0)i.R7' ${RESULT}
!macroend

; An export without arguments.
!macro _KivInvoke PROTO RESULT
  !insertmacro _KivBegin
  !insertmacro _KivEnd '${PROTO}' ${RESULT}
!macroend

; RESULT 1 when TEXT has an exact form in the system's ANSI code page; 0 and
; the error flag set when not. For texts that go elsewhere than to these
; macros (an ANSI program, a file read in the code page): the macros of a
; Unicode installer pass every text as it is. Always 1 in an ANSI installer,
; whose texts are ANSI already.
!macro KivIsAnsi TEXT RESULT
  Push `${TEXT}`
  System::Store "s"
  Pop $0
  StrCpy $1 1
  !ifdef NSIS_UNICODE
    ; WC_NO_BEST_FIT_CHARS; the flag behind tells whether a character had
    ; to be replaced by the default one.
    System::Alloc ${_KIV_ANSI_BYTES}
    Pop $2
    System::Call 'kernel32::WideCharToMultiByte(i 0, i 0x400, w r0, i -1, p r2, i ${_KIV_ANSI_BYTES}, p 0, *i .r4)i.r3'
    System::Free $2
    ${If} $3 = 0
    ${OrIf} $4 <> 0
      StrCpy $1 0
      SetErrors
    ${EndIf}
  !endif
  Push $1
  System::Store "l"
  Pop ${RESULT}
!macroend
!define KivIsAnsi "!insertmacro KivIsAnsi"

!macro KivFakeStatusOpen TEXT TITLE RESULT
  Push `${TITLE}`
  Push `${TEXT}`
  !insertmacro _KivBegin
  Pop $0
  Pop $1
  ; The status window holds a SysAnimate32 control: the host registers its
  ; class (ICC_ANIMATE_CLASS) before the window opens.
  System::Call '*(i 8, i 0x80)p.R6'
  System::Call 'comctl32::InitCommonControlsEx(p R6)'
  System::Free $R6
  !insertmacro _KivText 0
  !insertmacro _KivText 1
  !insertmacro _KivEnd 'FakeStatusOpen${_KIV_W}(p R0, p R1)i.R7' ${RESULT}
!macroend
!define KivFakeStatusOpen "!insertmacro KivFakeStatusOpen"

!macro KivFakeStatusClose RESULT
  !insertmacro _KivInvoke 'FakeStatusClose()i.R7' ${RESULT}
!macroend
!define KivFakeStatusClose "!insertmacro KivFakeStatusClose"

!macro KivFakeStatusSetAvi NAME RESULT
  !insertmacro _KivTextCall FakeStatusSetAvi `${NAME}` ${RESULT}
!macroend
!define KivFakeStatusSetAvi "!insertmacro KivFakeStatusSetAvi"

!macro KivServiceStart NAME RESULT
  !insertmacro _KivTextCall ServiceStart `${NAME}` ${RESULT}
!macroend
!define KivServiceStart "!insertmacro KivServiceStart"

; Stops the service and waits, bounded, until it has; it stays installed
; with its settings. RESULT 1 when it exists and is stopped.
!macro KivServiceStop NAME RESULT
  !insertmacro _KivTextCall ServiceStop `${NAME}` ${RESULT}
!macroend
!define KivServiceStop "!insertmacro KivServiceStop"

!macro KivServiceDelete NAME RESULT
  !insertmacro _KivTextCall ServiceDelete `${NAME}` ${RESULT}
!macroend
!define KivServiceDelete "!insertmacro KivServiceDelete"

!macro KivServiceExists NAME RESULT
  !insertmacro _KivTextCall ServiceExists `${NAME}` ${RESULT}
!macroend
!define KivServiceExists "!insertmacro KivServiceExists"

!macro KivServiceIsRunning NAME RESULT
  !insertmacro _KivTextCall ServiceIsRunning `${NAME}` ${RESULT}
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
  !insertmacro _KivBegin
  Pop $0
  Pop $1
  Pop $2
  Pop $3
  Pop $4
  Pop $5
  !insertmacro _KivText 0
  !insertmacro _KivText 3
  ${If} $4 != ""
    !insertmacro _KivText 4
  ${EndIf}
  ${If} $5 != ""
    !insertmacro _KivText 5
  ${EndIf}
  !insertmacro _KivEnd 'ServiceCreate${_KIV_W}(p R0, i r1, i r2, p R3, p R4, p R5)i.R7' ${RESULT}
!macroend
!define KivServiceCreate "!insertmacro KivServiceCreate"

; The result is a one-byte boolean: only its low byte counts.
!macro KivStopAllProcessStarters RESULT
  !insertmacro _KivInvoke 'StopAllProcessStarters()b.R7' ${RESULT}
!macroend
!define KivStopAllProcessStarters "!insertmacro KivStopAllProcessStarters"

; PARENT is a window handle (0: all top-level windows); RESULT the window
; found, 0 for none.
!macro KivGetWindowByTitle PARENT TITLE RESULT
  Push `${TITLE}`
  Push `${PARENT}`
  !insertmacro _KivBegin
  Pop $0
  Pop $1
  !insertmacro _KivText 1
  !insertmacro _KivEnd 'GetWindowByTitle${_KIV_W}(p r0, p R1)p.R7' ${RESULT}
!macroend
!define KivGetWindowByTitle "!insertmacro KivGetWindowByTitle"

; RESULT: 1 Next, 2 Back, 3 Cancel, 4 no drive to list, -1 no dialog (a quiet
; run, or a window station nobody sees). DRIVE is "C:" after Next, empty
; otherwise.
; The chooser speaks the installer's language: around the call the thread's
; preferred UI languages are $LANGUAGE alone and its locale is $LANGUAGE (the
; library takes the first that differs from the user's; where setting the UI
; language does nothing, the locale still counts), and both are put back
; afterwards exactly as they were, "none" included. A step whose saving or
; setting fails is left out; a failed putting back sets the error flag.
!macro KivAskDrive REQUIRED_MB TITLE TEXT RESULT DRIVE
  Push `${TEXT}`
  Push `${TITLE}`
  Push `${REQUIRED_MB}`
  !insertmacro _KivBegin
  Pop $0
  Pop $1
  Pop $2
  !insertmacro _KivText 1
  !insertmacro _KivText 2
  StrCpy $3 ""
  !insertmacro _KivThreadLanguageSet
  !insertmacro _KivCall 'AskDrive${_KIV_W}(i r0, t .r3, p R1, p R2)i.R7'
  !insertmacro _KivThreadLanguageRestore
  !insertmacro _KivLoadCheck
  ${IfThen} $R7 != 1 ${|} StrCpy $3 "" ${|}
  System::Free $R1
  System::Free $R2
  Push $3
  Push $R7
  System::Store "l"
  !insertmacro KivPumpMessages
  Pop ${RESULT}
  Pop ${DRIVE}
!macroend
!define KivAskDrive "!insertmacro KivAskDrive"

; MUI_LANGUAGE_ID, MUI_THREAD_LANGUAGES.
!define _KIV_MUI_LANGUAGE_ID 0x4
!define _KIV_MUI_THREAD_LANGUAGES 0x40

; Sets the thread's preferred UI languages and its locale to $LANGUAGE. $4:
; the saved languages (a block to free), 0 when that step is left out; $5:
; the saved locale, 0 when that step is left out. The preferred-language
; calls are looked up at run time (Windows Vista and later): where they are
; missing the System plug-in gives "error", and only the locale is set.
; SetThreadUILanguage is not used: setting the saved language back would pin
; the thread to it where it had none.
!macro _KivThreadLanguageSet
  StrCpy $4 0
  StrCpy $6 0
  System::Call 'kernel32::GetThreadPreferredUILanguages(i ${_KIV_MUI_LANGUAGE_ID}|${_KIV_MUI_THREAD_LANGUAGES}, *i .r7, p 0, *i 0 r6)i.r8'
  ${If} $8 <> 0
  ${AndIf} $8 != "error"
  ${AndIf} $6 > 0
    IntOp $7 $6 * 2
    System::Alloc $7
    Pop $4
    System::Call 'kernel32::GetThreadPreferredUILanguages(i ${_KIV_MUI_LANGUAGE_ID}|${_KIV_MUI_THREAD_LANGUAGES}, *i .r7, p r4, *i r6 r6)i.r8'
    ${If} $8 = 0
      System::Free $4
      StrCpy $4 0
    ${Else}
      ; One language as four hexadecimal digits, then the list's two nulls.
      IntFmt $7 "%04x" $LANGUAGE
      System::Call 'kernel32::SetThreadPreferredUILanguages(i ${_KIV_MUI_LANGUAGE_ID}, &w6 r7, *i .r8)i.r8'
      ${If} $8 = 0
        System::Free $4
        StrCpy $4 0
      ${EndIf}
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::GetThreadLocale()i.r5'
  System::Call 'kernel32::SetThreadLocale(i $LANGUAGE)i.r8'
  ${IfThen} $8 = 0 ${|} StrCpy $5 0 ${|}
!macroend

; Puts back what _KivThreadLanguageSet changed. An empty saved list (only
; its terminating nulls) means the thread had no languages of its own: a
; null list clears them again.
!macro _KivThreadLanguageRestore
  ${If} $5 <> 0
    System::Call 'kernel32::SetThreadLocale(i r5)i.r8'
    ${IfThen} $8 = 0 ${|} SetErrors ${|}
  ${EndIf}
  ${If} $4 P<> 0
    System::Call '*$4(&w2 .r7)'
    ${If} $7 == ""
      System::Call 'kernel32::SetThreadPreferredUILanguages(i 0, p 0, p 0)i.r8'
    ${Else}
      System::Call 'kernel32::SetThreadPreferredUILanguages(i ${_KIV_MUI_LANGUAGE_ID}, p r4, *i .r7)i.r8'
    ${EndIf}
    ${IfThen} $8 = 0 ${|} SetErrors ${|}
    System::Free $4
  ${EndIf}
!macroend

; Runs the uninstall hook with the loaded library's own module handle. The
; uninstaller must have been started with -c"<path of kiv_inst.dll>": see
; KivWriteUninstallEntry.
!macro KivUninstInitialize RESULT
  !insertmacro _KivBegin
  !insertmacro _KivDllPath $1
  ; The System plug-in loads the library by the same name: the handle is
  ; that copy's.
  System::Call 'kernel32::LoadLibrary(t r1)p.r0'
  !insertmacro _KivEnd 'UninstInitialize(i 0, p r0)i.R7' ${RESULT}
!macroend
!define KivUninstInitialize "!insertmacro KivUninstInitialize"

!macro KivUninstUnInitialize RESULT
  !insertmacro _KivInvoke 'UninstUnInitialize()i.R7' ${RESULT}
!macroend
!define KivUninstUnInitialize "!insertmacro KivUninstUnInitialize"

; At most this many FreeLibrary calls per ${KivUnload}: the System plug-in
; holds the library once and ${KivUninstInitialize} once more; a module
; pinned in the process never goes.
!ifndef KIV_UNLOAD_LIMIT
  !define KIV_UNLOAD_LIMIT 16
!endif

; Closes a status window still open, lets it go, and unloads the library, so
; that its file can be deleted. Does nothing when it is not loaded. A library
; still loaded after KIV_UNLOAD_LIMIT releases stays: the log says so and the
; error flag is set.
!macro KivUnload
  System::Store "s"
  !insertmacro _KivDllPath $1
  System::Call 'kernel32::GetModuleHandle(t r1)p.r0'
  ${If} $0 P<> 0
    !insertmacro _KivCall 'FakeStatusClose()i'
    !insertmacro KivPumpMessages
    StrCpy $2 0
    ${Do}
      System::Call 'kernel32::FreeLibrary(p r0)'
      System::Call 'kernel32::GetModuleHandle(t r1)p.r0'
      IntOp $2 $2 + 1
      ${IfThen} $0 P= 0 ${|} ${ExitDo} ${|}
    ${LoopWhile} $2 < ${KIV_UNLOAD_LIMIT}
    ${If} $0 P<> 0
      DetailPrint "$1 stays loaded after $2 releases; it cannot be deleted now."
      SetErrors
    ${EndIf}
  ${EndIf}
  System::Store "l"
!macroend
!define KivUnload "!insertmacro KivUnload"

; The uninstall script. The hook reads a kivunins.ini that begins with the
; UTF-16 LE byte-order mark as Unicode: every service name and command
; exactly as written, whatever the system's code page. Written beside the
; script in use and then put in its place, a new script never mixes with
; what an earlier version's held:
;
;   ${KivNewUnicodeScript} "$INSTDIR\kivunins.new" $0
;   ${KivScriptEntry} "$INSTDIR\kivunins.new" "ServiceDelete" "Service0" "KivRenderServer" $0
;   ${KivReplaceScript} "$INSTDIR\kivunins.new" "$INSTDIR\kivunins.ini" $0
;
; Each gives 0, or the system's error code with the error flag set.

; Makes FILE afresh, holding only the byte-order mark: an earlier FILE is
; deleted first, and the new one is created only where no file is
; (CREATE_NEW), never through a name someone put there in between.
!macro KivNewUnicodeScript FILE RESULT
  Push `${FILE}`
  System::Store "s"
  Pop $0
  StrCpy $2 0
  ClearErrors
  Delete $0
  ${If} ${Errors}
    StrCpy $2 5
  ${Else}
    ; GENERIC_WRITE, no sharing, CREATE_NEW, FILE_ATTRIBUTE_NORMAL
    System::Call 'kernel32::CreateFileW(w r0, i 0x40000000, i 0, p 0, i 1, i 0x80, p 0)p.r1 ?e'
    Pop $2
    ${If} $1 P<> -1
      StrCpy $2 0
      System::Call '*(&i2 0xFEFF)p.r6'
      System::Call 'kernel32::WriteFile(p r1, p r6, i 2, *i .r3, p 0)i.r4 ?e'
      Pop $5
      System::Free $6
      ${If} $4 = 0
      ${OrIf} $3 <> 2
        StrCpy $2 $5
        ${IfThen} $2 = 0 ${|} StrCpy $2 29 ${|}
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r1)'
    ${EndIf}
  ${EndIf}
  Push $2
  System::Store "l"
  Pop ${RESULT}
  ${IfThen} ${RESULT} <> 0 ${|} SetErrors ${|}
!macroend
!define KivNewUnicodeScript "!insertmacro KivNewUnicodeScript"

; One entry of the script made by ${KivNewUnicodeScript}. The system's
; profile writer keeps a file's encoding, so the entry goes in as UTF-16,
; from an ANSI installer too.
!macro KivScriptEntry FILE SECTION KEY VALUE RESULT
  Push `${VALUE}`
  Push `${KEY}`
  Push `${SECTION}`
  Push `${FILE}`
  System::Store "s"
  Pop $0
  Pop $1
  Pop $2
  Pop $3
  System::Call 'kernel32::WritePrivateProfileStringW(w r1, w r2, w r3, w r0)i.r4 ?e'
  Pop $5
  ${IfThen} $4 <> 0 ${|} StrCpy $5 0 ${|}
  Push $5
  System::Store "l"
  Pop ${RESULT}
  ${IfThen} ${RESULT} <> 0 ${|} SetErrors ${|}
!macroend
!define KivScriptEntry "!insertmacro KivScriptEntry"

; Puts NEW in the place of FILE in one step (MoveFileExW, replacing, written
; through). When FILE cannot be replaced (another process holds it open
; without sharing its deletion, say) FILE stays exactly as it was and NEW
; is deleted: stop the install then, before anything else changes.
!macro KivReplaceScript NEW FILE RESULT
  Push `${FILE}`
  Push `${NEW}`
  System::Store "s"
  Pop $0
  Pop $1
  ; MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
  System::Call 'kernel32::MoveFileExW(w r0, w r1, i 0x9)i.r2 ?e'
  Pop $3
  ${If} $2 <> 0
    StrCpy $3 0
  ${Else}
    Delete $0
  ${EndIf}
  Push $3
  System::Store "l"
  Pop ${RESULT}
  ${IfThen} ${RESULT} <> 0 ${|} SetErrors ${|}
!macroend
!define KivReplaceScript "!insertmacro KivReplaceScript"

; Folders that only the accounts an SDDL access list names can change, for
; the data of a service and for the records of a removal. Each gives 0, or
; the system's error code with the error flag set.

; Makes FOLDER with the access list SDDL in the one call that makes it: there
; is no moment in which anybody else could put something in it or link it
; elsewhere. A folder that is there already is refused with 183
; (ERROR_ALREADY_EXISTS) and left as it is.
!macro KivMakeProtectedFolder FOLDER SDDL RESULT
  Push `${SDDL}`
  Push `${FOLDER}`
  System::Store "s"
  Pop $0
  Pop $1
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r1, i 1, *p .r2, p 0)i.r3 ?e'
  Pop $4
  ${If} $3 <> 0
    ; SECURITY_ATTRIBUTES: size, descriptor, not inheritable
    !if ${NSIS_PTR_SIZE} > 4
      System::Call '*(i 24, i 0, p r2, i 0)p.r3'
    !else
      System::Call '*(i 12, p r2, i 0)p.r3'
    !endif
    System::Call 'kernel32::CreateDirectoryW(w r0, p r3)i.r5 ?e'
    Pop $4
    ${IfThen} $5 <> 0 ${|} StrCpy $4 0 ${|}
    System::Free $3
    System::Call 'kernel32::LocalFree(p r2)'
  ${EndIf}
  Push $4
  System::Store "l"
  Pop ${RESULT}
  ${IfThen} ${RESULT} <> 0 ${|} SetErrors ${|}
!macroend
!define KivMakeProtectedFolder "!insertmacro KivMakeProtectedFolder"

; Gives the folder FOLDER, which others may have been able to change, the
; protected access list SDDL (nothing inherited), through a handle opened
; without following links: from then on only the accounts SDDL names can add,
; rename or remove anything in it, so what is checked in it afterwards stays
; as checked. A link, or a file, is left alone with 267 (ERROR_DIRECTORY).
!macro KivProtectFolder FOLDER SDDL RESULT
  Push `${SDDL}`
  Push `${FOLDER}`
  System::Store "s"
  Pop $0
  Pop $1
  ; READ_CONTROL | WRITE_DAC, all sharing, OPEN_EXISTING,
  ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT
  System::Call 'kernel32::CreateFileW(w r0, i 0x60000, i 7, p 0, i 3, i 0x02200000, p 0)p.r2 ?e'
  Pop $4
  ${If} $2 P<> -1
    ; BY_HANDLE_FILE_INFORMATION begins with the attributes.
    System::Alloc 52
    Pop $3
    System::Call 'kernel32::GetFileInformationByHandle(p r2, p r3)i.r5 ?e'
    Pop $4
    System::Call '*$3(i .r6)'
    System::Free $3
    IntOp $6 $6 & 0x410
    ${If} $5 = 0
    ${ElseIf} $6 <> 0x10
      StrCpy $4 267
    ${Else}
      System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r1, i 1, *p .r3, p 0)i.r5 ?e'
      Pop $4
      ${If} $5 <> 0
        System::Call 'advapi32::GetSecurityDescriptorDacl(p r3, *i .r5, *p .r6, *i .r7)i.r8 ?e'
        Pop $4
        ${If} $8 <> 0
          ; SE_FILE_OBJECT; DACL_SECURITY_INFORMATION |
          ; PROTECTED_DACL_SECURITY_INFORMATION
          System::Call 'advapi32::SetSecurityInfo(p r2, i 1, i 0x80000004, p 0, p 0, p r6, p 0)i.r4'
        ${EndIf}
        System::Call 'kernel32::LocalFree(p r3)'
      ${EndIf}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r2)'
  ${EndIf}
  Push $4
  System::Store "l"
  Pop ${RESULT}
  ${IfThen} ${RESULT} <> 0 ${|} SetErrors ${|}
!macroend
!define KivProtectFolder "!insertmacro KivProtectFolder"

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
