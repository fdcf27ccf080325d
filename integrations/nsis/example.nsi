; A complete installer of a small Kivelstrand payload with kiv_inst.dll, in
; English, German and Polish: the program folder under Program Files, the
; drive chooser for the render cache on a page of its own (interactive only),
; a status window with a clip during the long steps (interactive only), the
; render service created and started, the uninstall script kivunins.ini
; beside the library, written afresh in UTF-16, and an uninstaller that
; removes what the install made, by name, and says when it could not.
; Run again, or a later version, it upgrades: the running service is stopped
; before its program is replaced, then started again, and keeps what an
; administrator set on it. An install that lives elsewhere (1.0.x kept its
; program at a drive root) moves here: the service is pointed at the new
; program and the old folder goes.
;
;   makensis [-DKIV_SERVICE_EXE=<service program>] [-DKIV_AMD64] example.nsi
;
; Paths given with -D are absolute, or relative to this file's folder.
; -DKIV_AMD64 makes a 64-bit installer (amd64-unicode) that installs into the
; 64-bit Program Files; without it the installer is 32-bit (x86-unicode) and
; installs into the 32-bit one (Program Files (x86) on 64-bit Windows).
; Silent:  kivelstrand-setup.exe /S [/LANG=<language id>] [/D=<program folder>]
; Exit codes: 0 installed; 1 cancelled; 2 failed (a service that would not
; stop, be created, be pointed at the new program or start; the uninstall
; script is this version's from the start); 3 refused: the
; cache folder is there already and no earlier install made it, or it is a
; link, or its drive keeps no access rights (nothing written); 4 refused: the
; program folder does not lie below Program Files (nothing written); 5 the
; uninstall script kivunins.ini could not be replaced (nothing changed).

!ifdef KIV_AMD64
  Target amd64-unicode
!endif

Unicode true

; makensis works in this file's folder (unless /NOCD), and ${__FILEDIR__} is
; the folder as the command line named it: a relative one would be looked
; for from here a second time.
!if /FileExists "${__FILEDIR__}\example.nsi"
  !define KIV_HERE "${__FILEDIR__}"
!else
  !define KIV_HERE "."
!endif
!ifndef KIV_DIST
  !define KIV_DIST "${KIV_HERE}\..\.."
!endif
!ifndef KIV_SERVICE_EXE
  !define KIV_SERVICE_EXE "${KIV_DIST}\kivrender.exe"
!endif
; The library for this installer's target: Plugins\<target>\kiv_inst.dll of
; the release; the 32-bit one beside the release's header where a release
; has no plug-in folders.
!ifndef KIV_PLUGINS
  !define KIV_PLUGINS "${KIV_DIST}\Plugins"
!endif
!ifndef KIV_AMD64
  !if ! /FileExists "${KIV_PLUGINS}\x86-unicode\kiv_inst.dll"
    !define KIV_INST_DLL_FILE "${KIV_DIST}\kiv_inst.dll"
  !endif
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
  !define KIV_VERSION "1.2.0"
!endif
!ifndef KIV_OUTFILE
  !ifdef KIV_AMD64
    !define KIV_OUTFILE "${KIV_DIST}\kivelstrand-setup-x64.exe"
  !else
    !define KIV_OUTFILE "${KIV_DIST}\kivelstrand-setup.exe"
  !endif
!endif
!define PRODUCT "Kivelstrand"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\${KIV_SERVICE_NAME}"
; The cache's access, given when the folder is made: SYSTEM and
; Administrators full control, Users read and run, nothing inherited.
!define DATA_SDDL "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
; SYSTEM and Administrators only, nothing inherited: the folder that keeps
; the removal's log, and a 1.0.x program folder before it is emptied.
!define ADMIN_SDDL "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
; Program Files of the installer's own kind.
!ifdef KIV_AMD64
  !define PROGRAM_FILES "$PROGRAMFILES64"
!else
  !define PROGRAM_FILES "$PROGRAMFILES"
!endif

!addincludedir "${KIV_HERE}"
!include "kiv_inst.nsh"
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

Name "${PRODUCT} ${KIV_VERSION}"
OutFile "${KIV_OUTFILE}"
; Program Files: only administrators can change what the LocalSystem service
; runs and what the elevated uninstaller loads. An upgrade goes where the
; installed version is when that lies there too (.onInit).
InstallDir "${PROGRAM_FILES}\${PRODUCT}"
RequestExecutionLevel admin

; The first is the default; the installer shows the one that matches the
; user's language, or the one /LANG= names.
LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Polish.nlf"
!define EN ${LANG_ENGLISH}
!define DE ${LANG_GERMAN}
!define PL ${LANG_POLISH}

LangString SetupTitle ${EN} "${PRODUCT} Setup"
LangString SetupTitle ${DE} "${PRODUCT} Installation"
LangString SetupTitle ${PL} "Instalator ${PRODUCT}"
LangString DirTextMsg ${EN} "Setup will install ${PRODUCT} ${KIV_VERSION} in the following folder, which must lie below ${PROGRAM_FILES}."
LangString DirTextMsg ${DE} "${PRODUCT} ${KIV_VERSION} wird in den folgenden Ordner installiert; er muss unterhalb von ${PROGRAM_FILES} liegen."
LangString DirTextMsg ${PL} "${PRODUCT} ${KIV_VERSION} zostanie zainstalowany w poniższym folderze, który musi leżeć w ${PROGRAM_FILES}."
LangString DrivePrompt ${EN} "Setup will keep the ${PRODUCT} render cache on the drive you select below."
LangString DrivePrompt ${DE} "Der Render-Cache von ${PRODUCT} wird auf dem unten gewählten Laufwerk abgelegt."
LangString DrivePrompt ${PL} "Pamięć podręczna renderowania ${PRODUCT} zostanie umieszczona na wybranym poniżej dysku."
LangString Copying ${EN} "Copying ${PRODUCT}, please wait..."
LangString Copying ${DE} "${PRODUCT} wird kopiert, bitte warten..."
LangString Copying ${PL} "Kopiowanie plików ${PRODUCT}, proszę czekać..."
LangString Starting ${EN} "Starting the ${PRODUCT} render service..."
LangString Starting ${DE} "Der Renderdienst von ${PRODUCT} wird gestartet..."
LangString Starting ${PL} "Uruchamianie usługi renderowania ${PRODUCT}..."
LangString NoClip ${EN} "The status window could not show its clip; setup goes on."
LangString NoClip ${DE} "Das Statusfenster konnte seine Animation nicht zeigen; die Installation geht weiter."
LangString NoClip ${PL} "Okno stanu nie mogło pokazać animacji; instalacja trwa dalej."
LangString ClipNotStopped ${EN} "The status window's clip did not stop; the window closes all the same."
LangString ClipNotStopped ${DE} "Die Animation des Statusfensters hielt nicht an; das Fenster wird trotzdem geschlossen."
LangString ClipNotStopped ${PL} "Animacja okna stanu nie zatrzymała się; okno i tak zostanie zamknięte."
LangString NoHook ${EN} "The uninstall hook of kiv_inst.dll could not run ($0); the uninstaller removes the service itself."
LangString NoHook ${DE} "Die Deinstallationsroutine von kiv_inst.dll konnte nicht laufen ($0); der Dienst wird direkt entfernt."
LangString NoHook ${PL} "Nie udało się uruchomić procedury deinstalacji kiv_inst.dll ($0); deinstalator sam usunie usługę."
LangString DriveRefused ${EN} "The drive chooser was not called (its texts were refused); the render cache stays beside the program."
LangString DriveRefused ${DE} "Die Laufwerksauswahl wurde nicht aufgerufen (ihre Texte wurden abgelehnt); der Render-Cache bleibt beim Programm."
LangString DriveRefused ${PL} "Wybór dysku nie został wywołany (odrzucono jego teksty); pamięć podręczna pozostaje obok programu."
LangString NoDrive ${EN} "No drive could be listed; the render cache stays beside the program."
LangString NoDrive ${DE} "Es konnte kein Laufwerk aufgelistet werden; der Render-Cache bleibt beim Programm."
LangString NoDrive ${PL} "Nie udało się wyświetlić żadnego dysku; pamięć podręczna pozostaje obok programu."
LangString NoDialog ${EN} "The drive chooser could not be shown; the render cache stays beside the program."
LangString NoDialog ${DE} "Die Laufwerksauswahl konnte nicht angezeigt werden; der Render-Cache bleibt beim Programm."
LangString NoDialog ${PL} "Nie udało się pokazać wyboru dysku; pamięć podręczna pozostaje obok programu."
LangString FolderRefused ${EN} "The folder $CacheDir is there already and no earlier ${PRODUCT} setup made it, or it is a link. Setup will not use it: choose another drive for the render cache, or another program folder."
LangString FolderRefused ${DE} "Den Ordner $CacheDir gibt es schon, und keine frühere ${PRODUCT}-Installation hat ihn angelegt, oder er ist eine symbolische Verknüpfung. Er wird nicht verwendet: Wählen Sie ein anderes Laufwerk für den Render-Cache oder einen anderen Programmordner."
LangString FolderRefused ${PL} "Folder $CacheDir już istnieje i nie utworzyła go żadna wcześniejsza instalacja ${PRODUCT} albo jest on łączem. Instalator go nie użyje: wybierz inny dysk na pamięć podręczną lub inny folder programu."
LangString Stopping ${EN} "Stopping the ${PRODUCT} render service..."
LangString Stopping ${DE} "Der Renderdienst von ${PRODUCT} wird beendet..."
LangString Stopping ${PL} "Zatrzymywanie usługi renderowania ${PRODUCT}..."
LangString NotStopped ${EN} "The render service did not stop; nothing was changed."
LangString NotStopped ${DE} "Der Renderdienst wurde nicht beendet; nichts wurde geändert."
LangString NotStopped ${PL} "Usługa renderowania nie zatrzymała się; niczego nie zmieniono."
LangString NotCreated ${EN} "The render service could not be created."
LangString NotCreated ${DE} "Der Renderdienst konnte nicht eingerichtet werden."
LangString NotCreated ${PL} "Nie udało się utworzyć usługi renderowania."
LangString NotRepointed ${EN} "The render service could not be pointed at the new program (error $0); the old folder stays."
LangString NotRepointed ${DE} "Der Renderdienst konnte nicht auf das neue Programm umgestellt werden (Fehler $0); der alte Ordner bleibt."
LangString NotRepointed ${PL} "Nie udało się wskazać usłudze renderowania nowego programu (błąd $0); stary folder pozostaje."
LangString NotStarted ${EN} "The render service did not start."
LangString NotStarted ${DE} "Der Renderdienst konnte nicht gestartet werden."
LangString NotStarted ${PL} "Usługa renderowania nie uruchomiła się."
LangString CacheFailed ${EN} "The folder $CacheDir could not be made (error $0)."
LangString CacheFailed ${DE} "Der Ordner $CacheDir konnte nicht angelegt werden (Fehler $0)."
LangString CacheFailed ${PL} "Nie udało się utworzyć folderu $CacheDir (błąd $0)."
LangString Moved ${EN} "${PRODUCT} moved from $OldDir to $INSTDIR."
LangString Moved ${DE} "${PRODUCT} wurde von $OldDir nach $INSTDIR verschoben."
LangString Moved ${PL} "${PRODUCT} przeniesiono z $OldDir do $INSTDIR."
LangString Kept ${EN} "$1 is not empty, or is a link: it stays."
LangString Kept ${DE} "$1 ist nicht leer oder ist eine symbolische Verknüpfung: Der Ordner bleibt."
LangString Kept ${PL} "$1 nie jest pusty albo jest łączem: pozostaje."
LangString Removing ${EN} "Removing the render service..."
LangString Removing ${DE} "Der Renderdienst wird entfernt..."
LangString Removing ${PL} "Usuwanie usługi renderowania..."
LangString NotRemoved ${EN} "The ${KIV_SERVICE_NAME} service could not be removed. Stop it and run the uninstaller again."
LangString NotRemoved ${DE} "Der Dienst ${KIV_SERVICE_NAME} konnte nicht entfernt werden. Beenden Sie ihn und starten Sie die Deinstallation erneut."
LangString NotRemoved ${PL} "Nie udało się usunąć usługi ${KIV_SERVICE_NAME}. Zatrzymaj ją i uruchom deinstalator ponownie."
LangString LogMoved ${EN} "The removal's log is $1\kivuninslog.txt."
LangString LogMoved ${DE} "Das Protokoll der Deinstallation ist $1\kivuninslog.txt."
LangString LogMoved ${PL} "Dziennik deinstalacji: $1\kivuninslog.txt."
LangString LogKept ${EN} "No protected folder could be made for the removal's log (error $0): it stays in $INSTDIR."
LangString LogKept ${DE} "Für das Protokoll der Deinstallation konnte kein geschützter Ordner angelegt werden (Fehler $0): Es bleibt in $INSTDIR."
LangString LogKept ${PL} "Nie udało się utworzyć chronionego folderu na dziennik deinstalacji (błąd $0): pozostaje w $INSTDIR."
LangString NoAcls ${EN} "The drive of $CacheDir keeps no access rights (a FAT or exFAT drive, say): anybody could change the render cache there. Setup will not use it: choose another drive for the render cache."
LangString NoAcls ${DE} "Das Laufwerk von $CacheDir speichert keine Zugriffsrechte (etwa ein FAT- oder exFAT-Laufwerk): Jeder könnte den Render-Cache dort ändern. Es wird nicht verwendet: Wählen Sie ein anderes Laufwerk für den Render-Cache."
LangString NoAcls ${PL} "Dysk folderu $CacheDir nie przechowuje uprawnień dostępu (np. dysk FAT lub exFAT): każdy mógłby tam zmienić pamięć podręczną renderowania. Instalator go nie użyje: wybierz inny dysk na pamięć podręczną."
LangString ScriptNotReplaced ${EN} "The uninstall script $INSTDIR\kivunins.ini could not be replaced (error $0); another program may hold it open. Nothing was changed: close that program and run setup again."
LangString ScriptNotReplaced ${DE} "Das Deinstallationsskript $INSTDIR\kivunins.ini konnte nicht ersetzt werden (Fehler $0); vielleicht hält ein anderes Programm es offen. Nichts wurde geändert: Schließen Sie dieses Programm und starten Sie die Installation erneut."
LangString ScriptNotReplaced ${PL} "Nie udało się zastąpić skryptu deinstalacji $INSTDIR\kivunins.ini (błąd $0); być może inny program trzyma go otwartym. Niczego nie zmieniono: zamknij ten program i uruchom instalator ponownie."
LangString OldKept ${EN} "$1 could not be protected before its removal (error $0): it stays as it is."
LangString OldKept ${DE} "$1 konnte vor dem Entfernen nicht geschützt werden (Fehler $0): Der Ordner bleibt, wie er ist."
LangString OldKept ${PL} "Nie udało się zabezpieczyć $1 przed usunięciem (błąd $0): pozostaje bez zmian."

DirText "$(DirTextMsg)"

; The drive for the render cache; empty: beside the program.
Var CacheDrive
Var CacheDir
; What an earlier install recorded: its program folder and its cache.
Var OldDir
Var OldCache
; Why the cache stays beside the program, for the log of the install.
Var DriveNote

Page directory "" "" DirectoryLeave
Page custom DrivePage
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; $0 = 1 when PATH is a link of any kind (a junction, a symbolic link, a
; mount point: the reparse point attribute), else 0 (also when it is missing).
!macro _IsLink PATH
  System::Call 'kernel32::GetFileAttributesW(w "${PATH}")i.r0'
  ${If} $0 = -1
    StrCpy $0 0
  ${Else}
    IntOp $0 $0 & 0x400
    ${IfThen} $0 <> 0 ${|} StrCpy $0 1 ${|}
  ${EndIf}
!macroend

; Removal by name, for the installer (the folder an upgrade moves away from)
; and the uninstaller alike: only the files an install of this product makes,
; then each folder when it is empty; nothing is looked at through a link.
!macro _RemovalFunctions UN
  ; $1: a cache folder.
  Function ${UN}RemoveDataFolder
    !insertmacro _IsLink "$1"
    ${IfThen} $0 = 1 ${|} Return ${|}
    Delete "$1\frames.idx"
    RMDir "$1"
  FunctionEnd

  ; $1: a program folder.
  Function ${UN}RemoveProgramFolder
    !insertmacro _IsLink "$1"
    ${IfThen} $0 = 1 ${|} Return ${|}
    Delete "$1\kiv_inst.dll"
    Delete "$1\kivunins.ini"
    Delete "$1\kivunins.new"
    ; The uninstaller has moved the log of its removal away, or keeps it here.
    !if "${UN}" == ""
      Delete "$1\kivuninslog.txt"
    !endif
    Delete "$1\uninst.exe"
    !insertmacro _IsLink "$1\bin"
    ${If} $0 = 0
      ; The process of a service just removed may hold its program a moment
      ; longer: a few tries, then at the next restart.
      ${For} $2 1 20
        Delete "$1\bin\kivrender.exe"
        ${IfNot} ${FileExists} "$1\bin\kivrender.exe"
          ${Break}
        ${EndIf}
        Sleep 250
      ${Next}
      Delete /REBOOTOK "$1\bin\kivrender.exe"
      RMDir "$1\bin"
    ${EndIf}
    Push $1
    StrCpy $1 "$1\cache"
    Call ${UN}RemoveDataFolder
    Pop $1
    RMDir "$1"
    ${IfThen} ${FileExists} "$1\*.*" ${|} DetailPrint "$(Kept)" ${|}
  FunctionEnd
!macroend
!insertmacro _RemovalFunctions ""
!insertmacro _RemovalFunctions "un."

; The earlier install's program folder (InstallLocation; 1.0.x wrote none:
; the folder of the uninstaller its entry names) and cache (CacheFolder; in
; 1.0.x "cache" in its program folder), empty when there is none.
Function ReadEarlierInstall
  ReadRegStr $OldDir SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $OldDir == ""
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "UninstallString"
    ; "<folder>\uninst.exe" -c"..."
    StrCpy $1 $0 1
    ${If} $1 == '"'
      StrCpy $0 $0 "" 1
      StrCpy $2 0
      ${Do}
        StrCpy $1 $0 1 $2
        ${IfThen} $1 == '"' ${|} ${ExitDo} ${|}
        ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
        IntOp $2 $2 + 1
      ${Loop}
      StrCpy $0 $0 $2
      ${GetParent} $0 $OldDir
    ${EndIf}
  ${EndIf}
  ReadRegStr $OldCache SHCTX "${UNINSTALL_KEY}" "CacheFolder"
  ${If} $OldCache == ""
  ${AndIf} $OldDir != ""
    StrCpy $OldCache "$OldDir\cache"
  ${EndIf}
FunctionEnd

; The cache beside the program, or in a folder at the root of another drive.
Function ResolveCacheDir
  StrCpy $0 $INSTDIR 2
  ${If} $CacheDrive == ""
  ${OrIf} $CacheDrive == $0
    StrCpy $CacheDir "$INSTDIR\cache"
  ${Else}
    StrCpy $CacheDir "$CacheDrive\${PRODUCT} Cache"
  ${EndIf}
FunctionEnd

; $0 = 1 when the cache folder may be used: it is not there (setup makes it,
; fresh and protected), or an earlier install of this product made it; 0
; when it is there and not ours, or it or its parent folder is a link; 2 when
; its volume keeps no access rights (FAT, exFAT: no FILE_PERSISTENT_ACLS), so
; that its protection would be no protection.
Function CheckCacheDir
  ${GetParent} $CacheDir $1
  !insertmacro _IsLink "$1"
  ${If} $0 = 0
    !insertmacro _IsLink "$CacheDir"
  ${EndIf}
  ${If} $0 = 1
    StrCpy $0 0
    Return
  ${EndIf}
  StrCpy $0 1
  System::Call 'kernel32::GetFileAttributesW(w "$CacheDir")i.r2'
  ${If} $2 <> -1
  ${AndIf} $CacheDir != $OldCache
    StrCpy $0 0
    Return
  ${EndIf}
  System::Call 'kernel32::GetVolumePathNameW(w "$CacheDir", w .r1, i ${NSIS_MAX_STRLEN})i.r2'
  ${If} $2 <> 0
    System::Call 'kernel32::GetVolumeInformationW(w r1, p 0, i 0, p 0, p 0, *i .r3, p 0, i 0)i.r2'
  ${EndIf}
  ${If} $2 = 0
    StrCpy $0 2
  ${Else}
    IntOp $3 $3 & 0x8
    ${IfThen} $3 = 0 ${|} StrCpy $0 2 ${|}
  ${EndIf}
FunctionEnd

; The box that says why the cache folder is refused: $0 from CheckCacheDir.
Function CacheRefusedBox
  ${If} $0 = 2
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(NoAcls)"
  ${Else}
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(FolderRefused)"
  ${EndIf}
FunctionEnd

; $0 = 1 when the folder $1 lies below the 32-bit or the 64-bit Program Files
; folder (the same on 32-bit Windows), which only administrators can change.
Function BelowProgramFiles
  StrCpy $0 0
  StrLen $3 $1
  ${ForEach} $4 32 64 + 32
    StrCpy $5 $PROGRAMFILES32
    ${IfThen} $4 = 64 ${|} StrCpy $5 $PROGRAMFILES64 ${|}
    StrLen $2 $5
    IntOp $2 $2 + 1
    StrCpy $6 $1 $2
    ${If} $6 == "$5\"
    ${AndIf} $3 > $2
      StrCpy $0 1
    ${EndIf}
  ${Next}
FunctionEnd

; $0 = 1 when the program folder may be used: below Program Files, and
; written in its plain full form (a folder with "." or ".." steps or forward
; slashes is refused rather than compared).
Function CheckProgramFolder
  StrCpy $0 0
  System::Call 'kernel32::GetFullPathNameW(w "$INSTDIR", i ${NSIS_MAX_STRLEN}, w .r1, p 0)i.r2'
  ${If} $2 <> 0
  ${AndIf} $2 < ${NSIS_MAX_STRLEN}
  ${AndIf} $1 S== $INSTDIR
    Call BelowProgramFiles
  ${EndIf}
FunctionEnd

; Makes the cache folder with its access in one step, so that nobody can put
; anything in it or link it elsewhere in between; a folder an earlier install
; made is kept. $0: 1 the folder is ours, 0 or 2 refused (as CheckCacheDir),
; 3 failed (error in $1).
Function MakeCacheDir
  Call CheckCacheDir
  ${IfThen} $0 <> 1 ${|} Return ${|}
  System::Call 'kernel32::GetFileAttributesW(w "$CacheDir")i.r2'
  ${IfThen} $2 <> -1 ${|} Return ${|}
  ${KivMakeProtectedFolder} "$CacheDir" "${DATA_SDDL}" $1
  ${If} $1 = 0
    StrCpy $0 1
  ${ElseIf} $1 = 183
    ; It appeared since the check: not ours.
    StrCpy $0 0
  ${Else}
    StrCpy $0 3
  ${EndIf}
FunctionEnd

Function .onInit
  SetShellVarContext all
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LANG=" $1
  ${IfNotThen} ${Errors} ${|} StrCpy $LANGUAGE $1 ${|}
  Call ReadEarlierInstall
  ; An upgrade goes where the installed version is, unless /D= said
  ; otherwise or that folder does not lie below Program Files (1.0.x put it
  ; at a drive root): then the install moves.
  ${If} $INSTDIR == "${PROGRAM_FILES}\${PRODUCT}"
  ${AndIf} $OldDir != ""
    StrCpy $1 $OldDir
    Call BelowProgramFiles
    ${IfThen} $0 = 1 ${|} StrCpy $INSTDIR $OldDir ${|}
  ${EndIf}
  ; No page runs in a silent installer: a program folder elsewhere, or a
  ; cache beside the program in a folder that is not ours, ends it before
  ; anything is written.
  ${If} ${Silent}
    Call CheckProgramFolder
    ${If} $0 = 0
      SetErrorLevel 4
      Quit
    ${EndIf}
    Call ResolveCacheDir
    Call CheckCacheDir
    ${If} $0 <> 1
      SetErrorLevel 3
      Quit
    ${EndIf}
  ${EndIf}
  ; The installer's own copy of the library, for the calls below.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\kiv_inst.dll" "${KIV_INST_DLL_FILE}"
FunctionEnd

; The directory page's Next stays disabled for a folder elsewhere.
Function .onVerifyInstDir
  Call CheckProgramFolder
  ${IfThen} $0 = 0 ${|} Abort ${|}
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

; The program folder decides where a cache on its drive goes: checked here.
; Refused, the page stays: another folder.
Function DirectoryLeave
  Call ResolveCacheDir
  Call CheckCacheDir
  ${If} $0 <> 1
    Call CacheRefusedBox
    Abort
  ${EndIf}
FunctionEnd

; The drive for the render cache, on a page of its own. Pages are skipped in
; a silent installer, so the chooser only shows when someone is there to
; answer it. It opens from a timer once the page shows, so that the wizard,
; visible and active, is its owner.
Function DrivePage
  StrCpy $DriveNote ""
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    StrCpy $DriveNote "$(NoDialog)"
    StrCpy $CacheDrive ""
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 24u "$(DrivePrompt)"
  Pop $0
  ${NSD_CreateTimer} ChooseDrive 1
  nsDialogs::Show
FunctionEnd

; Next goes on to the install; Back returns to the program folder's page;
; Cancel ends setup with 1. A folder on the chosen drive that is not ours, or
; a drive without access rights: the user is told and chooses again. Every
; other result keeps the cache beside the program, the install's log says
; why, and setup goes on.
Function ChooseDrive
  ${NSD_KillTimer} ChooseDrive
  StrCpy $DriveNote ""
  ${Do}
    ${KivAskDrive} 20 "$(SetupTitle)" "$(DrivePrompt)" $0 $1
    ${Select} $0
    ${Case} 1
      StrCpy $CacheDrive $1
      Call ResolveCacheDir
      Call CheckCacheDir
      ${IfThen} $0 = 1 ${|} ${ExitDo} ${|}
      Call CacheRefusedBox
    ${Case} 2
      ; The wizard's own Back.
      SendMessage $HWNDPARENT ${WM_COMMAND} 3 0
      Return
    ${Case} 3
      SetErrorLevel 1
      SendMessage $HWNDPARENT ${WM_COMMAND} 2 0
      Return
    ${Case} 4
      StrCpy $DriveNote "$(NoDrive)"
      ${ExitDo}
    ${Case} -1
      StrCpy $DriveNote "$(NoDialog)"
      ${ExitDo}
    ${CaseElse}
      StrCpy $DriveNote "$(DriveRefused)"
      ${ExitDo}
    ${EndSelect}
  ${Loop}
  ${IfThen} $DriveNote != "" ${|} StrCpy $CacheDrive "" ${|}
  ; The wizard's own Next.
  SendMessage $HWNDPARENT ${WM_COMMAND} 1 0
FunctionEnd

; Opens or updates the status window with a clip and a text (interactive
; only); a window without its clip is worth a line and no more.
!macro _Status AVI TEXT
  ${IfNot} ${Silent}
    ${KivFakeStatusSetAvi} "${AVI}" $0
    ${KivFakeStatusOpen} "${TEXT}" "$(SetupTitle)" $1
    ${If} $0 <> 1
    ${OrIf} $1 <> 1
      DetailPrint "$(NoClip)"
    ${EndIf}
  ${EndIf}
!macroend

; Closes the status window; a clip that would not stop is worth a line.
!macro _StatusClose
  ${KivFakeStatusClose} $0
  ${IfThen} $0 <> 1 ${|} DetailPrint "$(ClipNotStopped)" ${|}
!macroend

; Ends the install with CODE after a line that says why.
!macro _Fail CODE TEXT
  Push $0
  !insertmacro _StatusClose
  Pop $0
  DetailPrint "${TEXT}"
  SetErrorLevel ${CODE}
  Abort
!macroend

; The uninstall script, written beside the one in use and put in its place:
; an earlier version's entries (a command it ran, say) cannot survive in it.
; UTF-16, so that the hook removes the service by its name exactly. $0: 0, or
; the error that kept it from being replaced.
Function WriteUninstallScript
  ${KivNewUnicodeScript} "$INSTDIR\kivunins.new" $0
  ${IfThen} $0 <> 0 ${|} Return ${|}
  ${KivScriptEntry} "$INSTDIR\kivunins.new" "ServiceDelete" "Service0" "${KIV_SERVICE_NAME}" $0
  ${If} $0 <> 0
    Delete "$INSTDIR\kivunins.new"
    Return
  ${EndIf}
  ${KivReplaceScript} "$INSTDIR\kivunins.new" "$INSTDIR\kivunins.ini" $0
FunctionEnd

; A program folder of 1.0.x ($1, at a drive root) could be changed by every
; user: its folders get an administrators-only access list before anything
; in them is checked or deleted, so nothing can be swapped in between. $0:
; 0, or the error that left it as it was.
Function ProtectOldFolder
  ${KivProtectFolder} "$1" "${ADMIN_SDDL}" $0
  ${IfThen} $0 <> 0 ${|} Return ${|}
  ${ForEach} $2 0 1 + 1
    StrCpy $3 "$1\bin"
    ${IfThen} $2 = 1 ${|} StrCpy $3 "$1\cache" ${|}
    ${KivProtectFolder} "$3" "${ADMIN_SDDL}" $0
    ; A folder that is not there has nothing to swap.
    ${If} $0 = 2
    ${OrIf} $0 = 3
      StrCpy $0 0
    ${EndIf}
    ${IfThen} $0 <> 0 ${|} Return ${|}
  ${Next}
FunctionEnd

Section "${PRODUCT}"
  ${IfThen} $DriveNote != "" ${|} DetailPrint $DriveNote ${|}
  ; The script first: when it cannot be replaced, nothing else has changed.
  SetOutPath "$INSTDIR"
  Call WriteUninstallScript
  ${If} $0 <> 0
    DetailPrint "$(ScriptNotReplaced)"
    MessageBox MB_OK|MB_ICONSTOP "$(ScriptNotReplaced)" /SD IDOK
    SetErrorLevel 5
    Abort
  ${EndIf}
  ; Upgrading: a running service holds its program open. Stop it before
  ; the first file is written; it stays installed with its settings.
  ${KivServiceExists} "${KIV_SERVICE_NAME}" $R0
  StrCpy $R1 0
  ${If} $R0 = 1
    ${KivServiceIsRunning} "${KIV_SERVICE_NAME}" $R1
    ${If} $R1 = 1
      DetailPrint "$(Stopping)"
      ${KivServiceStop} "${KIV_SERVICE_NAME}" $0
      ${If} $0 <> 1
      !insertmacro _Fail 2 "$(NotStopped)"
    ${EndIf}
    ${EndIf}
  ${EndIf}

  !insertmacro _Status ":FILECOPY" "$(Copying)"
  ; The uninstall hook's copy: kivunins.ini and kivuninslog.txt lie beside it.
  File "${KIV_INST_DLL_FILE}"
  SetOutPath "$INSTDIR\bin"
  File "/oname=kivrender.exe" "${KIV_SERVICE_EXE}"

  ; The service writes to the cache and the uninstaller deletes in it: it
  ; must be a folder this install makes, or one an earlier install made.
  Call MakeCacheDir
  ${If} $0 = 0
    !insertmacro _Fail 3 "$(FolderRefused)"
  ${ElseIf} $0 = 2
    !insertmacro _Fail 3 "$(NoAcls)"
  ${ElseIf} $0 = 3
    StrCpy $0 $1
    !insertmacro _Fail 2 "$(CacheFailed)"
  ${EndIf}
  FileOpen $2 "$CacheDir\frames.idx" w
  FileClose $2

  ; The entry before the service: whatever fails below, the product can be
  ; removed.
  WriteUninstaller "$INSTDIR\uninst.exe"
  ${KivWriteUninstallEntry} "${PRODUCT}" "${PRODUCT}" "$INSTDIR\uninst.exe" "$INSTDIR\kiv_inst.dll"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${KIV_VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "CacheFolder" "$CacheDir"

  !insertmacro _Status ":BKW" "$(Starting)"
  ; An installed service is kept as it is (account, start type, description,
  ; recovery and whatever else an administrator set), pointed at this
  ; program when it ran one elsewhere (only its command line changes), and
  ; started again only when it ran before.
  ${If} $R0 = 0
    ; SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, LocalSystem
    ${KivServiceCreate} "${KIV_SERVICE_NAME}" 0x10 2 '${SERVICE_COMMAND}' "" "" $0
    ${If} $0 <> 1
      !insertmacro _Fail 2 "$(NotCreated)"
    ${EndIf}
  ${Else}
    StrCpy $3 '${SERVICE_COMMAND}'
    ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
    ${If} $0 != $3
      ; The service manager's own call: it keeps the rest of the settings,
      ; and the service manager uses the new line at the next start.
      ; SC_MANAGER_CONNECT, SERVICE_CHANGE_CONFIG, SERVICE_NO_CHANGE.
      System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1)p.r1'
      System::Call 'advapi32::OpenServiceW(p r1, w "${KIV_SERVICE_NAME}", i 2)p.r2'
      System::Call 'advapi32::ChangeServiceConfigW(p r2, i -1, i -1, i -1, w r3, p 0, p 0, p 0, p 0, p 0, p 0)i.r0 ?e'
      Pop $4
      System::Call 'advapi32::CloseServiceHandle(p r2)'
      System::Call 'advapi32::CloseServiceHandle(p r1)'
      ${If} $0 = 0
        StrCpy $0 $4
        !insertmacro _Fail 2 "$(NotRepointed)"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $R0 = 0
  ${OrIf} $R1 = 1
    ${KivServiceStart} "${KIV_SERVICE_NAME}" $0
    ${If} $0 <> 1
      !insertmacro _Fail 2 "$(NotStarted)"
    ${EndIf}
  ${EndIf}
  !insertmacro _StatusClose

  ; Moved: the earlier program folder and a cache of its own go, by name.
  ${If} $OldDir != ""
  ${AndIf} $OldDir != $INSTDIR
    DetailPrint "$(Moved)"
    StrCpy $1 $OldDir
    Call BelowProgramFiles
    StrCpy $1 $OldDir
    ${If} $0 = 0
      Call ProtectOldFolder
      ${IfThen} $0 <> 0 ${|} StrCpy $OldDir "" ${|}
      ${IfThen} $0 <> 0 ${|} DetailPrint "$(OldKept)" ${|}
    ${EndIf}
    ${IfThen} $OldDir != "" ${|} Call RemoveProgramFolder ${|}
  ${EndIf}
  ${If} $OldCache != ""
  ${AndIf} $OldCache != $CacheDir
    StrCpy $1 $OldCache
    Call RemoveDataFolder
  ${EndIf}
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
  ; Started as the entry says: uninst.exe -c"<install folder>\kiv_inst.dll".
  ; The hook removes the service, and this product's process starters and
  ; kivcfg.ini, and logs to kivuninslog.txt beside the library.
  ${KivUninstInitialize} $0
  ${IfThen} $0 != 0 ${|} DetailPrint "$(NoHook)" ${|}
  ${KivUninstUnInitialize} $0
  ; A missing or damaged kivunins.ini removed nothing: remove the service
  ; here.
  Call un.WaitForServiceGone
  ${KivServiceExists} "${KIV_SERVICE_NAME}" $0
  ${If} $0 = 1
    DetailPrint "$(Removing)"
    ${KivServiceDelete} "${KIV_SERVICE_NAME}" $0
  ${EndIf}
  ; A service still registered keeps its program, the library and the entry:
  ; the product can be removed again once it stops.
  ${KivServiceExists} "${KIV_SERVICE_NAME}" $0
  ${If} $0 = 1
    DetailPrint "$(NotRemoved)"
    MessageBox MB_OK|MB_ICONSTOP "$(NotRemoved)" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${KivUnload}
  ReadRegStr $1 SHCTX "${UNINSTALL_KEY}" "CacheFolder"
  ${IfThen} $1 != "" ${|} Call un.RemoveDataFolder ${|}
  ; The log leaves the program folder, which can then go, for a folder made
  ; now under a name nobody can guess, that only administrators and SYSTEM
  ; can change: nobody can put anything in its place in the shared
  ; temporary folder of a removal run as SYSTEM.
  ${If} ${FileExists} "$INSTDIR\kivuninslog.txt"
    System::Call 'ole32::CoCreateGuid(g .r2)'
    StrCpy $1 "$TEMP\${PRODUCT} removal $2"
    ${KivMakeProtectedFolder} "$1" "${ADMIN_SDDL}" $0
    ${If} $0 = 0
      System::Call 'kernel32::MoveFileW(w "$INSTDIR\kivuninslog.txt", w "$1\kivuninslog.txt")i.r3 ?e'
      Pop $0
      ${If} $3 <> 0
        DetailPrint "$(LogMoved)"
      ${Else}
        RMDir "$1"
        DetailPrint "$(LogKept)"
      ${EndIf}
    ${Else}
      DetailPrint "$(LogKept)"
    ${EndIf}
  ${EndIf}
  StrCpy $1 $INSTDIR
  Call un.RemoveProgramFolder
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
