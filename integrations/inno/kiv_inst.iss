; kiv_inst.iss: kiv_inst.dll for Inno Setup 6 scripts. Include it in front of
; your own [Code] and list the library twice in [Files]:
;
;   [Files]
;   Source: "kiv_inst.dll"; Flags: dontcopy          ; for the calls during Setup
;   Source: "kiv_inst.dll"; DestDir: "{app}"         ; the uninstall hook's copy
;   #include "kiv_inst.iss"
;
; The functions below carry the exports' own names. Their texts are Inno's
; Unicode strings, which the include converts to the ANSI code page exactly:
; a text with a character that code page has no byte for (or with a #0) is
; never passed on, the call gives 0 and Setup's log says why. The library is
; extracted to {tmp} and loaded at the first call, and stays loaded to the
; end of Setup. The uninstaller has the service functions too, from
; {app}\kiv_inst.dll, loaded for each call only.
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
  TKivMsg = record
    Wnd: HWND;
    Message: Cardinal;
    WParam: Longint;
    LParam: Longint;
    Time: Cardinal;
    X: Longint;
    Y: Longint;
  end;

// The exports as the library has them (cdecl, ANSI bytes). Scripts call the
// functions further down, which convert the texts first.
function KivDllFakeStatusOpen(Text, Title: AnsiString): Integer;
  external 'FakeStatusOpen@files:kiv_inst.dll cdecl setuponly';
function FakeStatusClose: Integer;
  external 'FakeStatusClose@files:kiv_inst.dll cdecl setuponly';
function KivDllFakeStatusSetAvi(Name: AnsiString): Integer;
  external 'FakeStatusSetAvi@files:kiv_inst.dll cdecl setuponly';
function KivDllServiceStart(ServiceName: AnsiString): Integer;
  external 'ServiceStart@files:kiv_inst.dll cdecl setuponly';
function KivDllServiceDelete(ServiceName: AnsiString): Integer;
  external 'ServiceDelete@files:kiv_inst.dll cdecl setuponly';
function KivDllServiceCreate(ServiceName: AnsiString; ServiceType, StartType: Cardinal;
  BinaryPath, AccountName, Password: AnsiString): Integer;
  external 'ServiceCreate@files:kiv_inst.dll cdecl setuponly';
function KivDllServiceExists(ServiceName: AnsiString): Integer;
  external 'ServiceExists@files:kiv_inst.dll cdecl setuponly';
function UninstInitialize(Unused: Cardinal; Instance: Longint): Integer;
  external 'UninstInitialize@files:kiv_inst.dll cdecl setuponly';
function UninstUnInitialize: Integer;
  external 'UninstUnInitialize@files:kiv_inst.dll cdecl setuponly';
function KivDllAskDrive(RequiredMB: Cardinal; Drive: AnsiString; Title, Text: AnsiString): Integer;
  external 'AskDrive@files:kiv_inst.dll cdecl setuponly';
function KivDllGetWindowByTitle(Parent: HWND; Title: AnsiString): HWND;
  external 'GetWindowByTitle@files:kiv_inst.dll cdecl setuponly';
function StopAllProcessStarters: Boolean;
  external 'StopAllProcessStarters@files:kiv_inst.dll cdecl setuponly';
function KivDllServiceIsRunning(ServiceName: AnsiString): Integer;
  external 'ServiceIsRunning@files:kiv_inst.dll cdecl setuponly';
// Loaded at its first call, so that a library older than its export (15)
// still serves the rest.
function KivDllServiceStop(ServiceName: AnsiString): Integer;
  external 'ServiceStop@files:kiv_inst.dll cdecl setuponly delayload';

// The uninstaller's calls, on the copy in {app}: the hook's pair, and the
// service functions for a check of the uninstaller's own.
function KivUninstInitialize(Unused: Cardinal; Instance: Longint): Integer;
  external 'UninstInitialize@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivUninstUnInitialize: Integer;
  external 'UninstUnInitialize@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivAppServiceExists(ServiceName: AnsiString): Integer;
  external 'ServiceExists@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivAppServiceIsRunning(ServiceName: AnsiString): Integer;
  external 'ServiceIsRunning@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivAppServiceStop(ServiceName: AnsiString): Integer;
  external 'ServiceStop@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivAppServiceDelete(ServiceName: AnsiString): Integer;
  external 'ServiceDelete@{app}\kiv_inst.dll cdecl uninstallonly delayload';

function KivInitCommonControlsEx(var Icc: TKivInitCommonControls): Boolean;
  external 'InitCommonControlsEx@comctl32.dll stdcall';
function KivPeekMessage(var Msg: TKivMsg; Wnd: HWND; First, Last, Remove: Cardinal): Boolean;
  external 'PeekMessageA@user32.dll stdcall';
function KivTranslateMessage(var Msg: TKivMsg): Boolean;
  external 'TranslateMessage@user32.dll stdcall';
function KivDispatchMessage(var Msg: TKivMsg): Longint;
  external 'DispatchMessageA@user32.dll stdcall';
procedure KivPostQuitMessage(ExitCode: Longint);
  external 'PostQuitMessage@user32.dll stdcall';
function KivGetModuleHandle(Name: String): Longint;
  external 'GetModuleHandleW@kernel32.dll stdcall';
function KivLoadLibrary(Name: String): Longint;
  external 'LoadLibraryW@kernel32.dll stdcall';
function KivFreeLibrary(Module: Longint): Boolean;
  external 'FreeLibrary@kernel32.dll stdcall';
function KivSetEnvironmentVariable(Name, Value: String): Boolean;
  external 'SetEnvironmentVariableW@kernel32.dll stdcall';
function KivGetACP: Cardinal;
  external 'GetACP@kernel32.dll stdcall';
function KivWideCharToMultiByte(CodePage, Flags: Cardinal; Text: String; TextLength: Integer;
  Buffer: AnsiString; BufferSize: Integer; DefaultChar: Longint; var UsedDefault: Longint): Integer;
  external 'WideCharToMultiByte@kernel32.dll stdcall';
// For a system whose ANSI code page is UTF-8, which takes neither a default
// character nor the flag against best fit.
function KivWideCharToUtf8(CodePage, Flags: Cardinal; Text: String; TextLength: Integer;
  Buffer: AnsiString; BufferSize: Integer; DefaultChar, UsedDefault: Longint): Integer;
  external 'WideCharToMultiByte@kernel32.dll stdcall';

function KivConvertSddl(Sddl: String; Revision: Cardinal; var Descriptor: Longint; Size: Longint): Boolean;
  external 'ConvertStringSecurityDescriptorToSecurityDescriptorW@advapi32.dll stdcall';
function KivCreateDirectory(Path: String; var Attributes: TKivSecurityAttributes): Boolean;
  external 'CreateDirectoryW@kernel32.dll stdcall';
function KivLocalFree(Memory: Longint): Longint;
  external 'LocalFree@kernel32.dll stdcall';
function KivGetFileAttributes(Path: String): Cardinal;
  external 'GetFileAttributesW@kernel32.dll stdcall';
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

// Text in the ANSI code page, byte for byte what it says. The system's own
// conversion (Inno's AnsiString) puts a look-alike or '?' where the code page
// has no byte for a character, a fullwidth backslash even becomes a real
// one, and the library would then act on another path or name than the one
// meant. False, and Ansi empty, when that would happen.
function KivTextToAnsi(Text: String; var Ansi: AnsiString): Boolean;
var
  UsedDefault, Count: Longint;
begin
  Ansi := '';
  // The library would see the text end at a #0.
  Result := Pos(#0, Text) = 0;
  if not Result or (Text = '') then
    Exit;
  // No UTF-16 unit takes more than three bytes, even in UTF-8.
  Ansi := StringOfChar(' ', 3 * Length(Text));
  UsedDefault := 0;
  if KivGetACP = 65001 then
    // WC_ERR_INVALID_CHARS: a lone surrogate fails instead of becoming U+FFFD.
    Count := KivWideCharToUtf8(65001, $80, Text, Length(Text), Ansi, Length(Ansi), 0, 0)
  else
    // CP_ACP, WC_NO_BEST_FIT_CHARS.
    Count := KivWideCharToMultiByte(0, $400, Text, Length(Text), Ansi, Length(Ansi), 0, UsedDefault);
  Result := (Count > 0) and (UsedDefault = 0);
  if Result then
    SetLength(Ansi, Count)
  else
    Ansi := '';
end;

// True when Text goes to the library unchanged: check a folder or name with
// it before anything is installed.
function KivTextIsAnsi(Text: String): Boolean;
var
  Ansi: AnsiString;
begin
  Result := KivTextToAnsi(Text, Ansi);
end;

function KivArgument(Call, Text: String; var Ansi: AnsiString): Boolean;
begin
  Result := KivTextToAnsi(Text, Ansi);
  if not Result then
    Log('kiv_inst: ' + Call + ' not called: "' + Text + '" is not a text of the ANSI code page');
end;

// In the uninstaller each call loads {app}\kiv_inst.dll and lets it go again,
// so that the uninstaller can delete it.
procedure KivReleaseAppLibrary;
begin
  if IsUninstaller then
    UnloadDLL(ExpandConstant('{app}\kiv_inst.dll'));
end;

function FakeStatusOpen(Text, Title: String): Integer;
var
  AnsiText, AnsiTitle: AnsiString;
begin
  Result := 0;
  if KivArgument('FakeStatusOpen', Text, AnsiText) and KivArgument('FakeStatusOpen', Title, AnsiTitle) then
    Result := KivDllFakeStatusOpen(AnsiText, AnsiTitle);
end;

function FakeStatusSetAvi(Name: String): Integer;
var
  AnsiName: AnsiString;
begin
  Result := 0;
  if KivArgument('FakeStatusSetAvi', Name, AnsiName) then
    Result := KivDllFakeStatusSetAvi(AnsiName);
end;

function ServiceStart(ServiceName: String): Integer;
var
  Name: AnsiString;
begin
  Result := 0;
  if KivArgument('ServiceStart', ServiceName, Name) then
    Result := KivDllServiceStart(Name);
end;

function ServiceCreate(ServiceName: String; ServiceType, StartType: Cardinal;
  BinaryPath, AccountName, Password: String): Integer;
var
  Name, Path, Account, Secret: AnsiString;
  Lowered: String;
begin
  Result := 0;
  if not KivArgument('ServiceCreate', ServiceName, Name) or not KivArgument('ServiceCreate', BinaryPath, Path) or
     not KivArgument('ServiceCreate', AccountName, Account) or not KivTextToAnsi(Password, Secret) then
    Exit;
  // The system tries "C:\Program.exe" first for C:\Program Files\... unquoted.
  Lowered := Lowercase(BinaryPath);
  if (Pos('"', BinaryPath) <> 1) and (Pos('.exe', Lowered) > 0) and
     (Pos(' ', Copy(Lowered, 1, Pos('.exe', Lowered))) > 0) then
    Log('kiv_inst: ServiceCreate: the program path in "' + BinaryPath + '" holds blanks and no quotes');
  Result := KivDllServiceCreate(Name, ServiceType, StartType, Path, Account, Secret);
end;

function ServiceExists(ServiceName: String): Integer;
var
  Name: AnsiString;
begin
  Result := 0;
  if not KivArgument('ServiceExists', ServiceName, Name) then
    Exit;
  if IsUninstaller then
    Result := KivAppServiceExists(Name)
  else
    Result := KivDllServiceExists(Name);
  KivReleaseAppLibrary;
end;

function ServiceIsRunning(ServiceName: String): Integer;
var
  Name: AnsiString;
begin
  Result := 0;
  if not KivArgument('ServiceIsRunning', ServiceName, Name) then
    Exit;
  if IsUninstaller then
    Result := KivAppServiceIsRunning(Name)
  else
    Result := KivDllServiceIsRunning(Name);
  KivReleaseAppLibrary;
end;

function ServiceStop(ServiceName: String): Integer;
var
  Name: AnsiString;
begin
  Result := 0;
  if not KivArgument('ServiceStop', ServiceName, Name) then
    Exit;
  if IsUninstaller then
    Result := KivAppServiceStop(Name)
  else
    Result := KivDllServiceStop(Name);
  KivReleaseAppLibrary;
end;

function ServiceDelete(ServiceName: String): Integer;
var
  Name: AnsiString;
begin
  Result := 0;
  if not KivArgument('ServiceDelete', ServiceName, Name) then
    Exit;
  if IsUninstaller then
    Result := KivAppServiceDelete(Name)
  else
    Result := KivDllServiceDelete(Name);
  KivReleaseAppLibrary;
end;

// Drive is the caller's buffer, written with 'C:' after Next: pass a string
// of at least 3 characters, or use KivAskDrive.
function AskDrive(RequiredMB: Cardinal; Drive: AnsiString; Title, Text: String): Integer;
var
  AnsiTitle, AnsiText: AnsiString;
begin
  Result := 0;
  if KivArgument('AskDrive', Title, AnsiTitle) and KivArgument('AskDrive', Text, AnsiText) then
    Result := KivDllAskDrive(RequiredMB, Drive, AnsiTitle, AnsiText);
end;

function GetWindowByTitle(Parent: HWND; Title: String): HWND;
var
  AnsiTitle: AnsiString;
begin
  Result := 0;
  if KivArgument('GetWindowByTitle', Title, AnsiTitle) then
    Result := KivDllGetWindowByTitle(Parent, AnsiTitle);
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
  Buffer: AnsiString;
begin
  Buffer := StringOfChar(#0, 4);
  Result := AskDrive(RequiredMB, Buffer, Title, Text);
  if Result = 1 then
    Drive := Copy(String(Buffer), 1, 2)
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

<event('InitializeSetup')>
function KivInitializeSetup: Boolean;
var
  Icc: TKivInitCommonControls;
begin
  KivQuietWhenSilent(WizardSilent);
  // The status window holds a SysAnimate32 control: ICC_ANIMATE_CLASS.
  Icc.Size := 8;
  Icc.Classes := $80;
  KivInitCommonControlsEx(Icc);
  Result := True;
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

function KivUninstallKey: String;
begin
  Result := ExpandConstant('Software\Microsoft\Windows\CurrentVersion\Uninstall\{#emit SetupSetting("AppId") != "" ? SetupSetting("AppId") : SetupSetting("AppName")}_is1');
end;

// Setup writes the entry itself, with a command that cannot carry arguments:
// add the hook's option to both commands once it is there.
<event('CurStepChanged')>
procedure KivCurStepChanged(CurStep: TSetupStep);
var
  Key, Option, Command: String;
begin
  if CurStep <> ssPostInstall then
    Exit;
  Key := KivUninstallKey;
  Option := ' -c"' + ExpandConstant('{app}\kiv_inst.dll') + '"';
  if RegQueryStringValue(HKA, Key, 'UninstallString', Command) and (Pos(Option, Command) = 0) then
    RegWriteStringValue(HKA, Key, 'UninstallString', Command + Option);
  if RegQueryStringValue(HKA, Key, 'QuietUninstallString', Command) and (Pos(Option, Command) = 0) then
    RegWriteStringValue(HKA, Key, 'QuietUninstallString', Command + Option);
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
    Log('kiv_inst: cannot load ' + Dll + '; the uninstall hook did not run');
    Exit;
  end;
  KivUninstInitialize(0, Module);
  KivUninstUnInitialize;
  KivPumpMessages;
  KivFreeLibrary(Module);
  UnloadDLL(Dll);
  KivLogHookRecord;
end;
