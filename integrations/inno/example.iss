; A complete installer of a small Kivelstrand payload with kiv_inst.dll: the
; program under Program Files, its data on a drive the user picks with the
; drive chooser (interactive only), a status window with a clip while the
; files are copied and the render service starts, the service created once
; and kept through upgrades, the uninstall script kivunins.ini beside the
; library, and an uninstaller that removes it all through the library's
; uninstall hook and says so when it could not.
;
;   iscc /DKivDist=<folder of kiv_inst.dll> /DKivServiceExe=<service program> example.iss
;
; Silent: kivelstrand-setup.exe /VERYSILENT /SUPPRESSMSGBOXES
; Exit codes: Inno Setup's own, and 9 when Kivelstrand is installed but its
; render service did not start.

#ifndef KivDist
  #define KivDist AddBackslash(SourcePath) + "..\.."
#endif
#ifndef KivServiceExe
  #define KivServiceExe "kivrender.exe"
#endif
#ifndef KivServiceName
  #define KivServiceName "KivRenderServer"
#endif
; Arguments the service program is registered with, after its quoted path.
#ifndef KivServiceArgs
  #define KivServiceArgs ""
#endif
#ifndef KivVersion
  #define KivVersion "1.0"
#endif

[Setup]
AppId=Kivelstrand
AppName=Kivelstrand
AppVersion={#KivVersion}
AppPublisher=Brackwen Technologies Inc.
; Only administrators can write below Program Files: nobody else can replace
; the program the service runs as LocalSystem, or the library and script
; the elevated uninstaller loads.
DefaultDirName={autopf}\Kivelstrand
; Shown for a first install; an upgrade goes into the installed version's
; folder, where its service's program is.
DisableDirPage=auto
AlwaysShowDirOnReadyPage=yes
DisableProgramGroupPage=yes
PrivilegesRequired=admin
OutputBaseFilename=kivelstrand-setup

[Files]
; The library for the calls during Setup, extracted on the first call...
Source: "{#KivDist}\kiv_inst.dll"; Flags: dontcopy
; ...and the uninstall hook's copy, beside kivunins.ini. A reinstall or an
; upgrade always lays down its own copies.
Source: "{#KivDist}\kiv_inst.dll"; DestDir: "{app}"; Flags: ignoreversion
Source: "{#KivServiceExe}"; DestDir: "{app}\bin"; DestName: "kivrender.exe"; Flags: ignoreversion

[Dirs]
; The data folder is removed by the uninstall script's command, after the
; hook has run.
Name: "{code:KivelstrandData}\cache"; Flags: uninsneveruninstall

[INI]
; What the uninstall hook removes: the service, then the data by a command.
; The command names its program by its full path, quoted, so that nothing in
; the uninstaller's folder or the current one is run in its place. The data
; folder has no blanks, and the value does not end in a quote: the profile
; reader would take off a pair of quotes around the whole value.
Filename: "{app}\kivunins.ini"; Section: "ServiceDelete"; Key: "Service0"; String: "{#KivServiceName}"
Filename: "{app}\kivunins.ini"; Section: "CustomCommand"; Key: "Command0"; String: """{sys}\cmd.exe"" /c rd /s /q {code:KivelstrandData}"

[UninstallDelete]
; Removed after the hook has read it. kivuninslog.txt stays as the record of
; the removal.
Type: files; Name: "{app}\kivunins.ini"

#include "kiv_inst.iss"

[Code]
const
  KIV_EXIT_SERVICE_NOT_RUNNING = 9;
  DATA_FOLDER = 'KivelstrandData';

var
  DataFolder: String;
  ServiceWasThere, ServiceWasRunning, StoppedForUpgrade, Installed, ServiceFailed: Boolean;

function ServiceName: String;
begin
  Result := '{#KivServiceName}';
end;

function ServiceProgram: String;
begin
  Result := ExpandConstant('{app}\bin\kivrender.exe');
end;

function InitializeSetup: Boolean;
var
  Drive: String;
begin
  Result := True;
  // An upgrade keeps the data where they are.
  DataFolder := GetPreviousData(DATA_FOLDER, '');
  if DataFolder <> '' then
    Exit;
  DataFolder := ExpandConstant('{sd}\') + DATA_FOLDER;
  if WizardSilent then
    Exit;
  case KivAskDrive(20, 'Kivelstrand Setup',
    'Setup will keep Kivelstrand''s data on the drive you select below.', Drive) of
    1: DataFolder := Drive + '\' + DATA_FOLDER;
    // No dialog, or nobody to answer it: the system's drive.
    -1: ;
  else
    // Back and Cancel leave Setup.
    Result := False;
  end;
end;

function KivelstrandData(Param: String): String;
begin
  Result := DataFolder;
end;

procedure RegisterPreviousData(PreviousDataKey: Integer);
begin
  SetPreviousData(PreviousDataKey, DATA_FOLDER, DataFolder);
end;

// The service and the uninstaller are given this folder through the
// library, which takes texts in the ANSI code page only.
function FolderProblem(Folder: String): String;
begin
  Result := '';
  if not KivTextIsAnsi(Folder) then
    Result := 'Kivelstrand cannot be installed in "' + Folder + '": the folder''s name has ' +
      'characters outside this system''s ANSI code page, which Kivelstrand''s service ' +
      'and uninstaller cannot use. Choose a folder without them.';
end;

// On the folder page, and before the ready page for a folder given by /DIR=
// or taken from the installed version. A silent Setup ends with exit code 1.
function NextButtonClick(CurPageID: Integer): Boolean;
var
  Problem: String;
begin
  Result := True;
  if (CurPageID <> wpSelectDir) and (CurPageID <> wpReady) then
    Exit;
  Problem := FolderProblem(WizardDirValue);
  if Problem = '' then
    Exit;
  Log(Problem);
  if not WizardSilent then
    MsgBox(Problem, mbError, MB_OK);
  Result := False;
end;

// Before any file is replaced: an installed service is stopped so that its
// program can be, and stays registered with whatever an administrator set
// on it.
function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  ImagePath: String;
begin
  Result := '';
  ServiceWasThere := ServiceExists(ServiceName) = 1;
  if not ServiceWasThere then
    Exit;
  if RegQueryStringValue(HKLM, 'SYSTEM\CurrentControlSet\Services\' + ServiceName, 'ImagePath', ImagePath) and
     (Pos(Lowercase(ServiceProgram), Lowercase(ImagePath)) = 0) then begin
    Result := 'The service ' + ServiceName + ' runs ' + ImagePath + ', not ' + ServiceProgram +
      '. Install Kivelstrand into the folder of the installed version, or remove that first.';
    Exit;
  end;
  ServiceWasRunning := ServiceIsRunning(ServiceName) = 1;
  if ServiceWasRunning and not WizardSilent then
    FakeStatusOpen('Stopping the Kivelstrand render service...', 'Kivelstrand Setup');
  // Waits for one still stopping too; a stopped one gives 1 at once.
  StoppedForUpgrade := ServiceStop(ServiceName) = 1;
  if ServiceWasRunning and not WizardSilent then
    FakeStatusClose;
  if not StoppedForUpgrade then
    Result := 'The service ' + ServiceName + ' did not stop, so its program cannot be replaced. ' +
      'Nothing was changed.';
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  case CurStep of
    ssInstall:
      if not WizardSilent then begin
        FakeStatusSetAvi(':FILECOPY');
        FakeStatusOpen('Copying Kivelstrand, please wait...', 'Kivelstrand Setup');
      end;
    ssPostInstall:
      begin
        Installed := True;
        SaveStringToFile(DataFolder + '\cache\frames.idx', '', False);
        if not WizardSilent then begin
          FakeStatusSetAvi(':BKW');
          FakeStatusOpen('Starting the Kivelstrand render service...', 'Kivelstrand Setup');
          KivPumpMessages;
        end;
        // Created once; an upgrade keeps the service as it is. The path is
        // quoted: it holds blanks.
        if not ServiceWasThere then
          ServiceCreate(ServiceName, KIV_SERVICE_WIN32_OWN_PROCESS, KIV_SERVICE_AUTO_START,
            '"' + ServiceProgram + '"{#KivServiceArgs != "" ? " " + KivServiceArgs : ""}', '', '');
        // A service an administrator had stopped stays stopped.
        if (not ServiceWasThere or ServiceWasRunning) and (ServiceStart(ServiceName) <> 1) then begin
          Log('The render service ' + ServiceName + ' did not start.');
          ServiceFailed := True;
        end;
        FakeStatusClose;
      end;
  end;
end;

function GetCustomSetupExitCode: Integer;
begin
  Result := 0;
  if ServiceFailed then
    Result := KIV_EXIT_SERVICE_NOT_RUNNING;
end;

// Setup stopped the installed version's service and then did not install:
// the old program is still in place, so it runs again.
procedure DeinitializeSetup;
begin
  if StoppedForUpgrade and ServiceWasRunning and not Installed then
    ServiceStart(ServiceName);
end;

// After the include has run the uninstall hook: a missing or damaged
// kivunins.ini leaves the service behind, so remove it here. Still
// registered after that, the removal stops before the uninstaller deletes
// anything (the entry included), so it can be run again, and the
// uninstaller's exit code is 1.
procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  Tries: Integer;
begin
  if CurUninstallStep <> usUninstall then
    Exit;
  // The hook does not wait for a service to stop: one still stopping goes
  // when it has.
  Tries := 0;
  while (ServiceExists(ServiceName) = 1) and (ServiceIsRunning(ServiceName) = 0) and (Tries < 10) do begin
    Sleep(300);
    Tries := Tries + 1;
  end;
  if ServiceExists(ServiceName) = 0 then
    Exit;
  Log('The uninstall hook left the service ' + ServiceName + '; removing it.');
  ServiceDelete(ServiceName);
  if ServiceExists(ServiceName) = 0 then
    Exit;
  Log('The service ' + ServiceName + ' is still installed: the removal stops here.');
  if not UninstallSilent then
    MsgBox('The service ' + ServiceName + ' could not be removed, so Kivelstrand stays installed. ' +
      'Stop the service, then remove Kivelstrand again.', mbError, MB_OK);
  Abort;
end;
