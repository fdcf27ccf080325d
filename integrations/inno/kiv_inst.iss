; kiv_inst.iss: kiv_inst.dll for Inno Setup 6 scripts. Include it after
; [Setup], in front of your own [Code], and list the library twice in [Files]:
;
;   #include "kiv_inst.iss"
;   [Files]
;   Source: "{#KivDllSource}"; Flags: dontcopy          ; for the calls during Setup
;   Source: "{#KivDllSource}"; DestDir: "{app}"         ; the uninstall hook's copy
;
; A Setup program loads only a library of its own architecture: the 32-bit
; kiv_inst.dll (the release's root folder) for a 32-bit Setup (all that
; Inno Setup 6.3.1 builds), whatever the install mode, and
; x64\kiv_inst.dll for a 64-bit one (SetupArchitecture=x64). KivDllSource is
; the one of SetupArchitecture (or of KivSetupArchitecture, when given with
; /D); a Setup that cannot load the library it carries says which one it
; needed, and ends.
;
; The functions below carry the exports' own names and call the library's
; wide exports: Inno's Unicode strings reach it exactly as they are, in any
; language, whatever the system's ANSI code page. The library is extracted
; to {tmp} and loaded at the first call, and stays loaded to the end of
; Setup. The uninstaller has the service functions too, from
; {app}\kiv_inst.dll, loaded for each call only. The drive chooser speaks
; Setup's active language when the script gives its language identifier as
; the custom message KivLanguageID (see docs/inno.md).
;
; What a host must do besides, this include does through event functions of
; its own, so it needs none of yours: the animation control's class is
; registered when Setup starts, a status window still open when Setup ends is
; closed, a silent Setup or uninstaller puts the library in quiet mode, and
; the uninstaller runs the library's uninstall hook from {app} when it starts
; removing. The entry in the system's list of programs is rewritten to start
; the uninstaller with -c"{app}\kiv_inst.dll", the option the hook finds its
; folder by. Setup dispatches window messages whenever your code returns to
; it; call KivPumpMessages during long steps of your own.

#ifndef KivSetupArchitecture
  #define KivSetupArchitecture SetupSetting("SetupArchitecture")
#endif
#ifndef KivDllSource
  #if KivSetupArchitecture == "x64"
    #define KivDllSource "x64\kiv_inst.dll"
  #else
    #define KivDllSource "kiv_inst.dll"
  #endif
#endif

[Code]
const
  KIV_SERVICE_WIN32_OWN_PROCESS = $10;
  KIV_SERVICE_AUTO_START = 2;
  KIV_SERVICE_DEMAND_START = 3;
  // KivPumpMessages hands back to Setup after this many messages, so a
  // window that keeps posting cannot hold the script.
  KIV_PUMP_LIMIT = 500;
  // Full control for SYSTEM and Administrators, read and execute for Users,
  // for the folder and everything made in it; P: nothing inherited.
  KIV_PROTECTED_SDDL = 'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)';

type
  TKivInitCommonControls = record
    Size: Cardinal;
    Classes: Cardinal;
  end;
  TKivSecurityAttributes = record
    Length: Cardinal;
    Descriptor: Longint;
    InheritHandle: Longint;
  end;
  // BY_HANDLE_FILE_INFORMATION: only the attributes are read.
  TKivFileInformation = record
    Attributes: Cardinal;
    Times: array[0..5] of Cardinal;
    VolumeSerial, SizeHigh, SizeLow, Links, IndexHigh, IndexLow: Cardinal;
  end;
  TKivMsg = record
    Wnd: HWND;
    Message: Cardinal;
    WParam: Longint;
    LParam: Longint;
    Time: Cardinal;
    X: Longint;
    Y: Longint;
  end;

// The exports as the library has them: cdecl, UTF-16 texts (the wide
// exports, ordinals 16 to 25).
function FakeStatusOpen(Text, Title: String): Integer;
  external 'FakeStatusOpenW@files:kiv_inst.dll cdecl setuponly delayload';
function FakeStatusClose: Integer;
  external 'FakeStatusClose@files:kiv_inst.dll cdecl setuponly delayload';
function FakeStatusSetAvi(Name: String): Integer;
  external 'FakeStatusSetAviW@files:kiv_inst.dll cdecl setuponly delayload';
function ServiceStart(ServiceName: String): Integer;
  external 'ServiceStartW@files:kiv_inst.dll cdecl setuponly delayload';
function KivDllServiceDelete(ServiceName: String): Integer;
  external 'ServiceDeleteW@files:kiv_inst.dll cdecl setuponly delayload';
function KivDllServiceCreate(ServiceName: String; ServiceType, StartType: Cardinal;
  BinaryPath, AccountName, Password: String): Integer;
  external 'ServiceCreateW@files:kiv_inst.dll cdecl setuponly delayload';
function KivDllServiceExists(ServiceName: String): Integer;
  external 'ServiceExistsW@files:kiv_inst.dll cdecl setuponly delayload';
function UninstInitialize(Unused: Cardinal; Instance: Longint): Integer;
  external 'UninstInitialize@files:kiv_inst.dll cdecl setuponly delayload';
function UninstUnInitialize: Integer;
  external 'UninstUnInitialize@files:kiv_inst.dll cdecl setuponly delayload';
function KivDllAskDrive(RequiredMB: Cardinal; Drive: String; Title, Text: String): Integer;
  external 'AskDriveW@files:kiv_inst.dll cdecl setuponly delayload';
function GetWindowByTitle(Parent: HWND; Title: String): HWND;
  external 'GetWindowByTitleW@files:kiv_inst.dll cdecl setuponly delayload';
function StopAllProcessStarters: Boolean;
  external 'StopAllProcessStarters@files:kiv_inst.dll cdecl setuponly delayload';
function KivDllServiceIsRunning(ServiceName: String): Integer;
  external 'ServiceIsRunningW@files:kiv_inst.dll cdecl setuponly delayload';
function KivDllServiceStop(ServiceName: String): Integer;
  external 'ServiceStopW@files:kiv_inst.dll cdecl setuponly delayload';

// The uninstaller's calls, on the copy in {app}: the hook's pair, and the
// service functions for a check of the uninstaller's own.
function KivUninstInitialize(Unused: Cardinal; Instance: Longint): Integer;
  external 'UninstInitialize@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivUninstUnInitialize: Integer;
  external 'UninstUnInitialize@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivAppServiceExists(ServiceName: String): Integer;
  external 'ServiceExistsW@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivAppServiceIsRunning(ServiceName: String): Integer;
  external 'ServiceIsRunningW@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivAppServiceStop(ServiceName: String): Integer;
  external 'ServiceStopW@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivAppServiceDelete(ServiceName: String): Integer;
  external 'ServiceDeleteW@{app}\kiv_inst.dll cdecl uninstallonly delayload';

function KivInitCommonControlsEx(var Icc: TKivInitCommonControls): Boolean;
  external 'InitCommonControlsEx@comctl32.dll stdcall';
function KivPeekMessage(var Msg: TKivMsg; Wnd: HWND; First, Last, Remove: Cardinal): Boolean;
  external 'PeekMessageW@user32.dll stdcall';
function KivTranslateMessage(var Msg: TKivMsg): Boolean;
  external 'TranslateMessage@user32.dll stdcall';
function KivDispatchMessage(var Msg: TKivMsg): Longint;
  external 'DispatchMessageW@user32.dll stdcall';
procedure KivPostQuitMessage(ExitCode: Longint);
  external 'PostQuitMessage@user32.dll stdcall';
function KivLoadLibraryEx(Name: String; Reserved: Longint; Flags: Cardinal): Longint;
  external 'LoadLibraryExW@kernel32.dll stdcall';
function KivGetCurrentProcess: Longint;
  external 'GetCurrentProcess@kernel32.dll stdcall';
function KivIsWow64Process(Process: Longint; var Wow64: Longint): Boolean;
  external 'IsWow64Process@kernel32.dll stdcall';
function KivGetModuleHandle(Name: String): Longint;
  external 'GetModuleHandleW@kernel32.dll stdcall';
function KivLoadLibrary(Name: String): Longint;
  external 'LoadLibraryW@kernel32.dll stdcall';
function KivFreeLibrary(Module: Longint): Boolean;
  external 'FreeLibrary@kernel32.dll stdcall';
function KivSetEnvironmentVariable(Name, Value: String): Boolean;
  external 'SetEnvironmentVariableW@kernel32.dll stdcall';
// Loaded at the first call, so that a system without them still runs Setup:
// a missing function raises an exception there, which the caller catches.
function KivGetThreadPreferredUILanguages(Flags: Cardinal; var Count: Cardinal; Buffer: String;
  var Size: Cardinal): Boolean;
  external 'GetThreadPreferredUILanguages@kernel32.dll stdcall delayload';
function KivSetThreadPreferredUILanguages(Flags: Cardinal; Buffer: String; var Count: Cardinal): Boolean;
  external 'SetThreadPreferredUILanguages@kernel32.dll stdcall delayload';
function KivGetThreadLocale: Cardinal;
  external 'GetThreadLocale@kernel32.dll stdcall';
function KivSetThreadLocale(Locale: Cardinal): Boolean;
  external 'SetThreadLocale@kernel32.dll stdcall';
function KivConvertSddl(Sddl: String; Revision: Cardinal; var Descriptor: Longint; Size: Longint): Boolean;
  external 'ConvertStringSecurityDescriptorToSecurityDescriptorW@advapi32.dll stdcall';
function KivCreateDirectory(Path: String; var Attributes: TKivSecurityAttributes): Boolean;
  external 'CreateDirectoryW@kernel32.dll stdcall';
function KivLocalFree(Memory: Longint): Longint;
  external 'LocalFree@kernel32.dll stdcall';
function KivGetFileAttributes(Path: String): Cardinal;
  external 'GetFileAttributesW@kernel32.dll stdcall';
function KivCreateFile(Name: String; Access, Share: Cardinal; Security: Longint;
  Disposition, Flags: Cardinal; Template: Longint): Longint;
  external 'CreateFileW@kernel32.dll stdcall';
function KivWriteFile(Handle: Longint; var Buffer: Word; Count: Cardinal; var Written: Cardinal;
  Overlapped: Longint): Boolean;
  external 'WriteFile@kernel32.dll stdcall';
function KivCloseHandle(Handle: Longint): Boolean;
  external 'CloseHandle@kernel32.dll stdcall';
function KivMoveFileEx(Existing, New: String; Flags: Cardinal): Boolean;
  external 'MoveFileExW@kernel32.dll stdcall';
function KivGetFileInformationByHandle(Handle: Longint; var Info: TKivFileInformation): Boolean;
  external 'GetFileInformationByHandle@kernel32.dll stdcall';
function KivGetVolumeInformation(Root: String; Name: Longint; NameSize: Cardinal; Serial, MaxLength: Longint;
  var Flags: Cardinal; FileSystem: Longint; FileSystemSize: Cardinal): Boolean;
  external 'GetVolumeInformationW@kernel32.dll stdcall';
function KivGetSecurityDescriptorOwner(Descriptor: Longint; var Owner: Longint; var Defaulted: Longint): Boolean;
  external 'GetSecurityDescriptorOwner@advapi32.dll stdcall';
function KivGetSecurityDescriptorDacl(Descriptor: Longint; var Present: Longint; var Dacl: Longint;
  var Defaulted: Longint): Boolean;
  external 'GetSecurityDescriptorDacl@advapi32.dll stdcall';
function KivSetSecurityInfo(Handle: Longint; ObjectType, Information: Cardinal; Owner, Group, Dacl, Sacl: Longint): Cardinal;
  external 'SetSecurityInfo@advapi32.dll stdcall';
function KivOpenSCManager(Machine, Database: Longint; Access: Cardinal): Longint;
  external 'OpenSCManagerW@advapi32.dll stdcall';
function KivOpenService(Manager: Longint; Name: String; Access: Cardinal): Longint;
  external 'OpenServiceW@advapi32.dll stdcall';
function KivChangeServiceConfig(Service: Longint; ServiceType, StartType, ErrorControl: Cardinal;
  BinaryPath: String; Group, Tag, Dependencies, Account, Password, DisplayName: Longint): Boolean;
  external 'ChangeServiceConfigW@advapi32.dll stdcall';
function KivCloseServiceHandle(Handle: Longint): Boolean;
  external 'CloseServiceHandle@advapi32.dll stdcall';

// True for a junction, a symbolic link or any other reparse point: nothing
// is created, written or deleted through one.
function KivIsLink(Path: String): Boolean;
var
  Attributes: Cardinal;
begin
  Attributes := KivGetFileAttributes(Path);
  Result := (Attributes <> $FFFFFFFF) and ((Attributes and $400) <> 0);
end;

// Creates Folder with its rights set in the same call: SYSTEM and
// Administrators full control, Users read and execute, nothing inherited
// from the folder above (at a drive root every user may change what is
// inherited). 0 when created; else the system's error code, 183 when
// anything is there already, which is never taken over.
function KivCreateProtectedFolder(Folder: String): Cardinal;
var
  Attributes: TKivSecurityAttributes;
begin
  Attributes.Length := 12;
  Attributes.Descriptor := 0;
  Attributes.InheritHandle := 0;
  if not KivConvertSddl(KIV_PROTECTED_SDDL, 1, Attributes.Descriptor, 0) then begin
    Result := DLLGetLastError;
    Exit;
  end;
  Result := 0;
  if not KivCreateDirectory(Folder, Attributes) then
    Result := DLLGetLastError;
  KivLocalFree(Attributes.Descriptor);
end;

// True when no folder from Folder down to Relative's own folder is a link.
function KivNoLinkOnTheWay(Folder, Relative: String): Boolean;
var
  Step: Integer;
begin
  Result := not KivIsLink(Folder);
  while Result do begin
    Step := Pos('\', Relative);
    if Step = 0 then
      Exit;
    Folder := Folder + '\' + Copy(Relative, 1, Step - 1);
    Relative := Copy(Relative, Step + 1, MaxInt);
    Result := not KivIsLink(Folder);
  end;
end;

// Removes what an install made in Folder and nothing else: the files named
// in Files ('|' between names, relative to Folder), then the folders named
// in Folders (deepest first) and Folder itself, each only when empty. A name
// below a link is left alone, and no folder is walked.
procedure KivRemoveCreated(Folder, Files, Folders: String);
var
  Name: String;
  Step: Integer;
begin
  Files := Files + '|';
  Folders := Folders + '|';
  while Files <> '' do begin
    Step := Pos('|', Files);
    Name := Copy(Files, 1, Step - 1);
    Files := Copy(Files, Step + 1, MaxInt);
    if Name = '' then
      Continue;
    if KivNoLinkOnTheWay(Folder, Name) then
      DeleteFile(Folder + '\' + Name)
    else
      Log('kiv_inst: ' + Folder + '\' + Name + ' lies below a link; left alone');
  end;
  while Folders <> '' do begin
    Step := Pos('|', Folders);
    Name := Copy(Folders, 1, Step - 1);
    Folders := Copy(Folders, Step + 1, MaxInt);
    // RemoveDirectory takes away a link itself, never what it points to.
    if (Name <> '') and KivNoLinkOnTheWay(Folder, Name) then
      RemoveDir(Folder + '\' + Name);
  end;
  RemoveDir(Folder);
end;

// Makes the uninstall script at Path afresh, empty but for the UTF-16 byte
// order mark: the [INI] entries written into it afterwards go in as Unicode,
// and the hook then acts on every name exactly as written. The new file is
// written beside the old one and then put in its place in one step, so an
// earlier version's script is either replaced whole or left as it was, never
// added to. False, with the reason in Setup's log, when it is not replaced
// (someone holds the old script open without letting it be deleted, for
// one): then nothing may be written into Path.
function KivNewUnicodeScript(Path: String): Boolean;
var
  Fresh: String;
  Handle: Longint;
  Mark: Word;
  Written: Cardinal;
begin
  Result := False;
  Fresh := Path + '.new';
  // Only an earlier run that stopped half-way leaves one.
  if FileExists(Fresh) and not DeleteFile(Fresh) then begin
    Log('kiv_inst: cannot delete the leftover ' + Fresh);
    Exit;
  end;
  // GENERIC_WRITE, CREATE_NEW: never through a name someone put there since.
  Handle := KivCreateFile(Fresh, $40000000, 0, 0, 1, $80, 0);
  if Handle = -1 then begin
    Log('kiv_inst: cannot create ' + Fresh + ' (' + IntToStr(DLLGetLastError) + ')');
    Exit;
  end;
  Mark := $FEFF;
  Result := KivWriteFile(Handle, Mark, 2, Written, 0) and (Written = 2);
  KivCloseHandle(Handle);
  if not Result then
    Log('kiv_inst: cannot write ' + Fresh)
  // MOVEFILE_REPLACE_EXISTING, MOVEFILE_WRITE_THROUGH.
  else if not KivMoveFileEx(Fresh, Path, $9) then begin
    Log('kiv_inst: cannot replace ' + Path + ' (' + IntToStr(DLLGetLastError) + ')');
    Result := False;
  end;
  if not Result then
    DeleteFile(Fresh);
end;

// True when the volume of Folder keeps access rights (FILE_PERSISTENT_ACLS):
// on FAT and exFAT every user may change everything, whatever Setup sets.
function KivKeepsAccessRights(Folder: String): Boolean;
var
  Flags: Cardinal;
begin
  Flags := 0;
  Result := KivGetVolumeInformation(AddBackslash(ExtractFileDrive(Folder)), 0, 0, 0, 0, Flags, 0, 0) and
    ((Flags and $8) <> 0);
  if not Result then
    Log('kiv_inst: the volume of ' + Folder + ' keeps no access rights (' + IntToStr(DLLGetLastError) + ')');
end;

// Gives an existing Folder the protected access list of
// KivCreateProtectedFolder and Administrators as its owner, through a handle
// on the folder itself, which nobody can rename away while it is open: a
// link swapped in for it is never followed. The system carries the
// inheritable entries down to what lies in it; from then on only
// administrators can change the folder or put a link into it. 0 when done; else the
// system's error code, 267 (ERROR_DIRECTORY) when Folder is a link or a file.
function KivProtectFolder(Folder: String): Cardinal;
var
  Descriptor, Owner, Dacl, Present, Defaulted, Handle: Longint;
  Info: TKivFileInformation;
begin
  // Where the system can tell by the name alone.
  if KivIsLink(Folder) then begin
    Result := 267;
    Exit;
  end;
  Descriptor := 0;
  if not KivConvertSddl('O:BA' + KIV_PROTECTED_SDDL, 1, Descriptor, 0) then begin
    Result := DLLGetLastError;
    Exit;
  end;
  Owner := 0;
  Dacl := 0;
  if not KivGetSecurityDescriptorOwner(Descriptor, Owner, Defaulted) or
     not KivGetSecurityDescriptorDacl(Descriptor, Present, Dacl, Defaulted) then begin
    Result := DLLGetLastError;
    KivLocalFree(Descriptor);
    Exit;
  end;
  // READ_CONTROL, WRITE_DAC, WRITE_OWNER; sharing read and write, not delete;
  // FILE_FLAG_BACKUP_SEMANTICS, FILE_FLAG_OPEN_REPARSE_POINT.
  Handle := KivCreateFile(Folder, $E0000, 3, 0, 3, $02200000, 0);
  if Handle = -1 then
    Result := DLLGetLastError
  else begin
    if not KivGetFileInformationByHandle(Handle, Info) then
      Result := DLLGetLastError
    else if (Info.Attributes and $410) <> $10 then
      // Not a plain folder: a link, or a file.
      Result := 267
    else
      // SE_FILE_OBJECT; OWNER, DACL and PROTECTED_DACL_SECURITY_INFORMATION.
      Result := KivSetSecurityInfo(Handle, 1, $80000005, Owner, 0, Dacl, 0);
    KivCloseHandle(Handle);
  end;
  KivLocalFree(Descriptor);
end;

// Points an installed service at another program and changes nothing else
// an administrator may have set on it (start type, account, description,
// recovery, dependencies). 1 when changed, else 0 with the reason in the log.
function KivServiceSetBinaryPath(ServiceName, BinaryPath: String): Integer;
var
  Manager, Service: Longint;
begin
  Result := 0;
  // SC_MANAGER_CONNECT; SERVICE_CHANGE_CONFIG.
  Manager := KivOpenSCManager(0, 0, 1);
  if Manager = 0 then begin
    Log('kiv_inst: OpenSCManager failed (' + IntToStr(DLLGetLastError) + ')');
    Exit;
  end;
  Service := KivOpenService(Manager, ServiceName, 2);
  if Service = 0 then
    Log('kiv_inst: OpenService ' + ServiceName + ' failed (' + IntToStr(DLLGetLastError) + ')')
  else begin
    // SERVICE_NO_CHANGE everywhere but the program.
    if KivChangeServiceConfig(Service, $FFFFFFFF, $FFFFFFFF, $FFFFFFFF, BinaryPath, 0, 0, 0, 0, 0, 0) then
      Result := 1
    else
      Log('kiv_inst: ChangeServiceConfig ' + ServiceName + ' failed (' + IntToStr(DLLGetLastError) + ')');
    KivCloseServiceHandle(Service);
  end;
  KivCloseServiceHandle(Manager);
end;

// In the uninstaller each call loads {app}\kiv_inst.dll and lets it go again,
// so that the uninstaller can delete it.
procedure KivReleaseAppLibrary;
begin
  if IsUninstaller then
    UnloadDLL(ExpandConstant('{app}\kiv_inst.dll'));
end;

function ServiceCreate(ServiceName: String; ServiceType, StartType: Cardinal;
  BinaryPath, AccountName, Password: String): Integer;
var
  Lowered: String;
begin
  // The system tries "C:\Program.exe" first for C:\Program Files\... unquoted.
  Lowered := Lowercase(BinaryPath);
  if (Pos('"', BinaryPath) <> 1) and (Pos('.exe', Lowered) > 0) and
     (Pos(' ', Copy(Lowered, 1, Pos('.exe', Lowered))) > 0) then
    Log('kiv_inst: ServiceCreate: the program path in "' + BinaryPath + '" holds blanks and no quotes');
  Result := KivDllServiceCreate(ServiceName, ServiceType, StartType, BinaryPath, AccountName, Password);
end;

function ServiceExists(ServiceName: String): Integer;
begin
  if IsUninstaller then
    Result := KivAppServiceExists(ServiceName)
  else
    Result := KivDllServiceExists(ServiceName);
  KivReleaseAppLibrary;
end;

function ServiceIsRunning(ServiceName: String): Integer;
begin
  if IsUninstaller then
    Result := KivAppServiceIsRunning(ServiceName)
  else
    Result := KivDllServiceIsRunning(ServiceName);
  KivReleaseAppLibrary;
end;

function ServiceStop(ServiceName: String): Integer;
begin
  if IsUninstaller then
    Result := KivAppServiceStop(ServiceName)
  else
    Result := KivDllServiceStop(ServiceName);
  KivReleaseAppLibrary;
end;

function ServiceDelete(ServiceName: String): Integer;
begin
  if IsUninstaller then
    Result := KivAppServiceDelete(ServiceName)
  else
    Result := KivDllServiceDelete(ServiceName);
  KivReleaseAppLibrary;
end;

// The active language's identifier, from the custom message KivLanguageID
// (the LanguageID of its .isl file, such as $0407); 0 when the script gives
// none or one that is not a language identifier.
function KivActiveLanguageID: Cardinal;
var
  Text: String;
begin
  Result := 0;
  try
    Text := CustomMessage('KivLanguageID');
  except
    Log('kiv_inst: no custom message KivLanguageID for the language ' + ActiveLanguage +
      '; the drive chooser takes the user''s language');
    Exit;
  end;
  Result := StrToIntDef(Text, 0);
  if (Result <= 0) or (Result > $FFFF) then begin
    Log('kiv_inst: KivLanguageID "' + Text + '" of the language ' + ActiveLanguage + ' is not a language identifier');
    Result := 0;
  end;
end;

// The thread's own preferred UI languages (MUI_LANGUAGE_ID,
// MUI_THREAD_LANGUAGES) into Saved as the system gives them, an empty list
// when the thread has none; False when the system lacks the call or it
// failed, with the reason in Setup's log.
function KivSaveThreadLanguages(var Saved: String): Boolean;
var
  Count, Size: Cardinal;
begin
  Result := False;
  // At most five languages of four digits, each with its terminator, and one
  // more terminator.
  Saved := StringOfChar(#0, 64);
  Size := 64;
  try
    Result := KivGetThreadPreferredUILanguages($44, Count, Saved, Size);
    if Result then
      Saved := Copy(Saved, 1, Size)
    else
      Log('kiv_inst: GetThreadPreferredUILanguages failed (' + IntToStr(DLLGetLastError) + ')');
  except
    Log('kiv_inst: no GetThreadPreferredUILanguages on this system: ' + GetExceptionMessage);
  end;
end;

// Makes Languages (identifiers, each ending in #0; an empty list takes the
// thread's own away) the thread's preferred UI languages. SetThreadUILanguage
// cannot put back "none": it pins the thread to the language it is given.
function KivSetThreadLanguages(Languages: String): Boolean;
var
  Count: Cardinal;
begin
  Result := False;
  try
    Result := KivSetThreadPreferredUILanguages($4, Languages, Count);
    if not Result then
      Log('kiv_inst: SetThreadPreferredUILanguages failed (' + IntToStr(DLLGetLastError) + ')');
  except
    Log('kiv_inst: no SetThreadPreferredUILanguages on this system: ' + GetExceptionMessage);
  end;
end;

// Drive is the caller's buffer, written with 'C:' after Next: pass a string
// of at least 3 characters, or use KivAskDrive. The dialog speaks Setup's
// active language: the library takes the calling thread's UI language (what
// Windows honours) or, failing that, its locale (what Wine and older Windows
// honour), so both are set for the call and put back after it.
function AskDrive(RequiredMB: Cardinal; Drive: String; Title, Text: String): Integer;
var
  Language, SavedLocale: Cardinal;
  SavedLanguages: String;
  LanguagesSaved: Boolean;
begin
  Language := KivActiveLanguageID;
  LanguagesSaved := False;
  if Language <> 0 then begin
    LanguagesSaved := KivSaveThreadLanguages(SavedLanguages);
    if LanguagesSaved then
      KivSetThreadLanguages(Format('%.4x', [Language]) + #0);
    SavedLocale := KivGetThreadLocale;
    // SORT_DEFAULT: the locale identifier is the language identifier.
    if not KivSetThreadLocale(Language) then
      Log('kiv_inst: SetThreadLocale failed (' + IntToStr(DLLGetLastError) + ')');
  end;
  Result := KivDllAskDrive(RequiredMB, Drive, Title, Text);
  if Language <> 0 then begin
    if LanguagesSaved then
      KivSetThreadLanguages(SavedLanguages);
    if not KivSetThreadLocale(SavedLocale) then
      Log('kiv_inst: SetThreadLocale failed (' + IntToStr(DLLGetLastError) + ')');
  end;
end;

// Dispatches what waits in the queue of Setup's thread: the status window's
// start-up timer, its posted close, its painting. A quit request is put back
// for Setup's own loop.
procedure KivPumpMessages;
var
  Msg: TKivMsg;
  Count: Integer;
begin
  Count := 0;
  while (Count < KIV_PUMP_LIMIT) and KivPeekMessage(Msg, 0, 0, 0, 1) do begin
    if Msg.Message = $12 then begin
      KivPostQuitMessage(Msg.WParam);
      Exit;
    end;
    KivTranslateMessage(Msg);
    KivDispatchMessage(Msg);
    Count := Count + 1;
  end;
end;

// AskDrive with the caller's buffer made here. Drive is 'C:' after Next
// (result 1) and empty otherwise.
function KivAskDrive(RequiredMB: Cardinal; Title, Text: String; var Drive: String): Integer;
var
  Buffer: String;
begin
  Buffer := StringOfChar(#0, 4);
  Result := AskDrive(RequiredMB, Buffer, Title, Text);
  if Result = 1 then
    Drive := Copy(Buffer, 1, 2)
  else
    Drive := '';
end;

// A silent run has nobody to answer a box or watch a status window: the
// library reads KIV_INST_QUIET from this process's environment at each call.
procedure KivQuietWhenSilent(Silent: Boolean);
begin
  if Silent and not KivSetEnvironmentVariable('KIV_INST_QUIET', '1') then
    Log('kiv_inst: cannot set KIV_INST_QUIET; the library may show boxes');
end;

// The library this process can load: a 32-bit process on 64-bit Windows
// runs under WOW64.
function KivNeededDll: String;
var
  Wow64: Longint;
begin
  Wow64 := 0;
  if IsWin64 and KivIsWow64Process(KivGetCurrentProcess, Wow64) and (Wow64 = 0) then
    Result := 'the 64-bit x64\kiv_inst.dll'
  else
    Result := 'the 32-bit kiv_inst.dll of the release''s root folder';
end;

function KivProgramKind: String;
begin
  if IsUninstaller then
    Result := 'uninstaller'
  else
    Result := 'Setup program';
end;

// Why Dll did not load, and which library this process needed.
function KivLoadFailure(Dll: String; Error: Cardinal): String;
begin
  Result := 'kiv_inst: ' + Dll + ' cannot be loaded: ' + SysErrorMessage(Error) + ' (' + IntToStr(Error) +
    '). This ' + KivProgramKind + ' needs ' + KivNeededDll +
    '; {#KivDllSource} was given.';
end;

// Whether Setup can load the library it carries, mapped only: its entry
// point runs at the first call, as ever. False, with the system's reason and
// the library Setup needed in the log and (unless silent) in a box, for one
// of the other architecture.
function KivDllLoads: Boolean;
var
  Dll, Problem: String;
  Module: Longint;
begin
  Result := True;
  Dll := ExpandConstant('{tmp}\kiv_inst.dll');
  try
    ExtractTemporaryFile('kiv_inst.dll');
  except
    Log('kiv_inst: no kiv_inst.dll in [Files] for Setup: ' + GetExceptionMessage);
    Exit;
  end;
  // DONT_RESOLVE_DLL_REFERENCES: mapped as Setup will map it, and let go.
  Module := KivLoadLibraryEx(Dll, 0, 1);
  if Module <> 0 then begin
    KivFreeLibrary(Module);
    Exit;
  end;
  Problem := KivLoadFailure(Dll, DLLGetLastError);
  Log(Problem);
  if not WizardSilent then
    MsgBox(Problem, mbCriticalError, MB_OK);
  Result := False;
end;

<event('InitializeSetup')>
function KivInitializeSetup: Boolean;
var
  Icc: TKivInitCommonControls;
begin
  Result := KivDllLoads;
  if not Result then
    Exit;
  KivQuietWhenSilent(WizardSilent);
  // The status window holds a SysAnimate32 control: ICC_ANIMATE_CLASS.
  Icc.Size := 8;
  Icc.Classes := $80;
  KivInitCommonControlsEx(Icc);
end;

<event('InitializeUninstall')>
function KivInitializeUninstall: Boolean;
begin
  KivQuietWhenSilent(UninstallSilent);
  Result := True;
end;

<event('DeinitializeSetup')>
procedure KivDeinitializeSetup;
begin
  // Setup unloads the library after this: no window may outlive its code.
  if KivGetModuleHandle(ExpandConstant('{tmp}\kiv_inst.dll')) <> 0 then begin
    FakeStatusClose;
    KivPumpMessages;
  end;
end;

function KivAppId: String;
begin
  Result := ExpandConstant('{#emit SetupSetting("AppId") != "" ? SetupSetting("AppId") : SetupSetting("AppName")}');
end;

function KivUninstallKey: String;
begin
  Result := 'Software\Microsoft\Windows\CurrentVersion\Uninstall\' + KivAppId + '_is1';
end;

// Command with the hook's option, and with the uninstaller's log (/LOG, from
// UninstallLogging) in the Windows folder's Logs, which only administrators
// can write, under a fixed name: in the Temp folder of whoever removes the
// product it would lie, for a deployment running as SYSTEM, in the Windows
// Temp folder, where every user may create files.
function KivHookCommand(Command: String): String;
var
  Logs, Option: String;
begin
  Result := Command;
  Logs := ExpandConstant('{win}\Logs');
  if (Pos(' /LOG', Result) > 0) and (Pos(' /LOG=', Result) = 0) then begin
    // /LOG="..." ends the uninstaller when the file cannot be made.
    if DirExists(Logs) then
      StringChangeEx(Result, ' /LOG', ' /LOG="' + Logs + '\' + KivAppId + ' uninstall.log"', True)
    else
      Log('kiv_inst: no ' + Logs + '; the uninstaller logs to its Temp folder');
  end;
  Option := ' -c"' + ExpandConstant('{app}\kiv_inst.dll') + '"';
  if Pos(Option, Result) = 0 then
    Result := Result + Option;
end;

procedure KivRewriteCommand(Key, Name: String);
var
  Command: String;
begin
  if RegQueryStringValue(HKA, Key, Name, Command) and
     not RegWriteStringValue(HKA, Key, Name, KivHookCommand(Command)) then
    Log('kiv_inst: cannot write ' + Name + ' of ' + Key + '; the uninstall hook will work beside the library');
end;

// Setup writes the entry itself, with a command that cannot carry arguments:
// add the hook's option to both commands once it is there.
<event('CurStepChanged')>
procedure KivCurStepChanged(CurStep: TSetupStep);
begin
  if CurStep <> ssPostInstall then
    Exit;
  KivRewriteCommand(KivUninstallKey, 'UninstallString');
  KivRewriteCommand(KivUninstallKey, 'QuietUninstallString');
end;

// The hook's log goes into the uninstaller's own log, line by line: the
// file itself would keep {app} from ever being empty.
procedure KivLogHookRecord;
var
  Lines: TArrayOfString;
  Index: Integer;
begin
  if not LoadStringsFromFile(ExpandConstant('{app}\kivuninslog.txt'), Lines) then begin
    Log('kiv_inst: the uninstall hook wrote no kivuninslog.txt');
    Exit;
  end;
  for Index := 0 to GetArrayLength(Lines) - 1 do
    Log('kivuninslog.txt: ' + Lines[Index]);
end;

// Runs the hook before the uninstaller removes the files: kivunins.ini and
// kivuninslog.txt lie beside {app}\kiv_inst.dll. Once the uninstaller has
// removed its files, the log goes and so does {app}, when nothing else is
// left in it.
<event('CurUninstallStepChanged')>
procedure KivCurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  Dll: String;
  Module: Longint;
begin
  if CurUninstallStep = usPostUninstall then
    KivRemoveCreated(ExpandConstant('{app}'), 'kivuninslog.txt', '');
  if CurUninstallStep <> usUninstall then
    Exit;
  Dll := ExpandConstant('{app}\kiv_inst.dll');
  // The hook wants the library's own module handle: the same module the
  // calls below load.
  Module := KivLoadLibrary(Dll);
  if Module = 0 then begin
    Log(KivLoadFailure(Dll, DLLGetLastError) + ' The uninstall hook did not run.');
    Exit;
  end;
  KivUninstInitialize(0, Module);
  KivUninstUnInitialize;
  KivPumpMessages;
  KivFreeLibrary(Module);
  UnloadDLL(Dll);
  KivLogHookRecord;
end;
