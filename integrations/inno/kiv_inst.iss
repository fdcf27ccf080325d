; kiv_inst.iss: kiv_inst.dll for Inno Setup 6 scripts. Include it in front of
; your own [Code] and list the library twice in [Files]:
;
;   [Files]
;   Source: "kiv_inst.dll"; Flags: dontcopy          ; for the calls during Setup
;   Source: "kiv_inst.dll"; DestDir: "{app}"         ; the uninstall hook's copy
;   #include "kiv_inst.iss"
;
; During Setup the functions below carry the exports' own names and types:
; cdecl, ANSI texts (AnsiString), the one-byte result of
; StopAllProcessStarters as Boolean, window handles as HWND. The library is
; extracted to {tmp} and loaded at the first call, and stays loaded to the end
; of Setup.
;
; What a host must do besides, this include does through event functions of
; its own, so it needs none of yours: the animation control's class is
; registered when Setup starts, a status window still open when Setup ends is
; closed, and the uninstaller runs the library's uninstall hook from {app}
; when it starts removing. The entry in the system's list of programs is
; rewritten to start the uninstaller with -c"{app}\kiv_inst.dll", the option
; the hook finds its folder by. Setup dispatches window messages whenever
; your code returns to it; call KivPumpMessages during long steps of your own.

[Code]
const
  KIV_SERVICE_WIN32_OWN_PROCESS = $10;
  KIV_SERVICE_AUTO_START = 2;
  KIV_SERVICE_DEMAND_START = 3;

type
  TKivInitCommonControls = record
    Size: Cardinal;
    Classes: Cardinal;
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

function FakeStatusOpen(Text, Title: AnsiString): Integer;
  external 'FakeStatusOpen@files:kiv_inst.dll cdecl setuponly';
function FakeStatusClose: Integer;
  external 'FakeStatusClose@files:kiv_inst.dll cdecl setuponly';
function FakeStatusSetAvi(Name: AnsiString): Integer;
  external 'FakeStatusSetAvi@files:kiv_inst.dll cdecl setuponly';
function ServiceStart(ServiceName: AnsiString): Integer;
  external 'ServiceStart@files:kiv_inst.dll cdecl setuponly';
function ServiceDelete(ServiceName: AnsiString): Integer;
  external 'ServiceDelete@files:kiv_inst.dll cdecl setuponly';
function ServiceCreate(ServiceName: AnsiString; ServiceType, StartType: Cardinal;
  BinaryPath, AccountName, Password: AnsiString): Integer;
  external 'ServiceCreate@files:kiv_inst.dll cdecl setuponly';
function ServiceExists(ServiceName: AnsiString): Integer;
  external 'ServiceExists@files:kiv_inst.dll cdecl setuponly';
function UninstInitialize(Unused: Cardinal; Instance: Longint): Integer;
  external 'UninstInitialize@files:kiv_inst.dll cdecl setuponly';
function UninstUnInitialize: Integer;
  external 'UninstUnInitialize@files:kiv_inst.dll cdecl setuponly';
// Drive receives the drive as 'C:' after Next: pass a string of at least 3
// characters, or use KivAskDrive.
function AskDrive(RequiredMB: Cardinal; Drive: AnsiString; Title, Text: AnsiString): Integer;
  external 'AskDrive@files:kiv_inst.dll cdecl setuponly';
function GetWindowByTitle(Parent: HWND; Title: AnsiString): HWND;
  external 'GetWindowByTitle@files:kiv_inst.dll cdecl setuponly';
function StopAllProcessStarters: Boolean;
  external 'StopAllProcessStarters@files:kiv_inst.dll cdecl setuponly';
function ServiceIsRunning(ServiceName: AnsiString): Integer;
  external 'ServiceIsRunning@files:kiv_inst.dll cdecl setuponly';

// The uninstaller's calls, on the copy in {app}, loaded only when the hook runs.
function KivUninstInitialize(Unused: Cardinal; Instance: Longint): Integer;
  external 'UninstInitialize@{app}\kiv_inst.dll cdecl uninstallonly delayload';
function KivUninstUnInitialize: Integer;
  external 'UninstUnInitialize@{app}\kiv_inst.dll cdecl uninstallonly delayload';

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
function KivGetModuleHandle(Name: AnsiString): Longint;
  external 'GetModuleHandleA@kernel32.dll stdcall';
function KivLoadLibrary(Name: AnsiString): Longint;
  external 'LoadLibraryA@kernel32.dll stdcall';
function KivFreeLibrary(Module: Longint): Boolean;
  external 'FreeLibrary@kernel32.dll stdcall';

// Dispatches what waits in the queue of Setup's thread: the status window's
// start-up timer, its posted close, its painting. A quit request is put back
// for Setup's own loop.
procedure KivPumpMessages;
var
  Msg: TKivMsg;
begin
  while KivPeekMessage(Msg, 0, 0, 0, 1) do begin
    if Msg.Message = $12 then begin
      KivPostQuitMessage(Msg.WParam);
      Exit;
    end;
    KivTranslateMessage(Msg);
    KivDispatchMessage(Msg);
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

<event('InitializeSetup')>
function KivInitializeSetup: Boolean;
var
  Icc: TKivInitCommonControls;
begin
  // The status window holds a SysAnimate32 control: ICC_ANIMATE_CLASS.
  Icc.Size := 8;
  Icc.Classes := $80;
  KivInitCommonControlsEx(Icc);
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

// Runs the hook before the uninstaller removes the files: kivunins.ini and
// kivuninslog.txt lie beside {app}\kiv_inst.dll.
<event('CurUninstallStepChanged')>
procedure KivCurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  Dll: String;
  Module: Longint;
begin
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
end;
