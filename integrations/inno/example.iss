; A complete installer of a small Kivelstrand payload with kiv_inst.dll: the
; drive chooser (interactive only), a status window with a clip while the
; files are copied and the render service starts, the service created and
; started, the uninstall script kivunins.ini beside the library, and an
; uninstaller that removes it all through the library's uninstall hook.
;
;   iscc /DKivDist=<folder of kiv_inst.dll> /DKivServiceExe=<service program> example.iss
;
; Silent: kivelstrand-setup.exe /VERYSILENT /SUPPRESSMSGBOXES

#ifndef KivDist
  #define KivDist AddBackslash(SourcePath) + "..\.."
#endif
#ifndef KivServiceExe
  #define KivServiceExe "kivrender.exe"
#endif
#ifndef KivServiceName
  #define KivServiceName "KivRenderServer"
#endif

[Setup]
AppId=Kivelstrand
AppName=Kivelstrand
AppVersion=1.0
AppPublisher=Brackwen Technologies Inc.
DefaultDirName={code:KivelstrandDir}
; The drive chooser stands in for the folder page.
DisableDirPage=yes
AlwaysShowDirOnReadyPage=yes
DisableProgramGroupPage=yes
PrivilegesRequired=admin
OutputBaseFilename=kivelstrand-setup

[Files]
; The library for the calls during Setup, extracted on the first call...
Source: "{#KivDist}\kiv_inst.dll"; Flags: dontcopy
; ...and the uninstall hook's copy, beside kivunins.ini.
Source: "{#KivDist}\kiv_inst.dll"; DestDir: "{app}"
Source: "{#KivServiceExe}"; DestDir: "{app}\bin"; DestName: "kivrender.exe"

[Dirs]
Name: "{app}\cache"

[INI]
; What the uninstall hook removes: the service, then the cache by a command.
Filename: "{app}\kivunins.ini"; Section: "ServiceDelete"; Key: "Service0"; String: "{#KivServiceName}"
Filename: "{app}\kivunins.ini"; Section: "CustomCommand"; Key: "Command0"; String: "cmd.exe /c rd /s /q ""{app}\cache"""

[UninstallDelete]
; Removed after the hook has read it. kivuninslog.txt stays as the record of
; the removal.
Type: files; Name: "{app}\kivunins.ini"

#include "kiv_inst.iss"

[Code]
var
  ChosenDrive: String;

function InitializeSetup: Boolean;
begin
  Result := True;
  ChosenDrive := '';
  if WizardSilent then
    Exit;
  // Back and Cancel leave Setup.
  Result := KivAskDrive(20, 'Kivelstrand Setup',
    'Setup will install Kivelstrand on the drive you select below.', ChosenDrive) = 1;
end;

function KivelstrandDir(Param: String): String;
begin
  if ChosenDrive <> '' then
    Result := ChosenDrive + '\Kivelstrand'
  else
    Result := ExpandConstant('{autopf}\Kivelstrand');
end;

procedure CurStepChanged(CurStep: TSetupStep);
var
  Service: AnsiString;
begin
  Service := '{#KivServiceName}';
  case CurStep of
    ssInstall:
      begin
        FakeStatusSetAvi(':FILECOPY');
        FakeStatusOpen('Copying Kivelstrand, please wait...', 'Kivelstrand Setup');
      end;
    ssPostInstall:
      begin
        SaveStringToFile(ExpandConstant('{app}\cache\frames.idx'), '', False);
        FakeStatusSetAvi(':BKW');
        FakeStatusOpen('Starting the Kivelstrand render service...', 'Kivelstrand Setup');
        KivPumpMessages;
        if ServiceExists(Service) = 0 then
          ServiceCreate(Service, KIV_SERVICE_WIN32_OWN_PROCESS, KIV_SERVICE_AUTO_START,
            '"' + ExpandConstant('{app}\bin\kivrender.exe') + '" normal', '', '');
        if ServiceStart(Service) <> 1 then
          Log('The render service did not start.');
        FakeStatusClose;
      end;
  end;
end;
