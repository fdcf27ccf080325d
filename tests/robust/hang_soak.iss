; The hang soak's Inno Setup installer: Setup's progress page up (/SILENT),
; the status window opened and closed step after step from Setup's thread,
; each step waiting without dispatching, in Hebrew, German or English
; (/LANG=he|de|en). Compiled by the soak with ISCC:
;   ISCC /DKivDist=<bin> /O<folder> hang_soak.iss
#ifndef KivDist
  #error KivDist must name the folder of kiv_inst.dll
#endif
#define KivSteps 6

[Setup]
AppName=Kiv soak
AppVersion=1
CreateAppDir=no
Uninstallable=no
PrivilegesRequired=lowest
OutputBaseFilename=hang_soak_inno

[Languages]
Name: "en"; MessagesFile: "compiler:Default.isl"
Name: "de"; MessagesFile: "compiler:Languages\German.isl"
Name: "he"; MessagesFile: "compiler:Languages\Hebrew.isl"

[Messages]
; One caption in every language: the soak's clicker finds the wizard by it.
SetupWindowTitle=Kiv soak wizard

[CustomMessages]
en.KivSoakTitle=Kivelstrand Setup
de.KivSoakTitle=Kivelstrand-Installation
he.KivSoakTitle=התקנת Kivelstrand
en.KivSoakStep=Copying the Kivelstrand files, please wait...
de.KivSoakStep=Kivelstrand-Dateien werden kopiert, bitte warten...
he.KivSoakStep=מעתיק את קבצי Kivelstrand, נא להמתין...

[Files]
Source: "{#KivDist}\kiv_inst.dll"; Flags: dontcopy

#include "..\..\integrations\inno\kiv_inst.iss"

[Code]
var
  KivSoakFailures: Integer;

procedure CurStepChanged(CurStep: TSetupStep);
var
  Step: Integer;
  Text: String;
begin
  if CurStep <> ssInstall then
    Exit;
  for Step := 1 to {#KivSteps} do begin
    Text := CustomMessage('KivSoakStep') + ' ' + IntToStr(Step) + '/{#KivSteps}';
    WizardForm.StatusLabel.Caption := Text;
    if FakeStatusOpen(Text, CustomMessage('KivSoakTitle')) <> 1 then
      KivSoakFailures := KivSoakFailures + 1;
    // A long step: Setup's thread dispatches nothing meanwhile.
    Sleep(500);
    if FakeStatusClose <> 1 then
      KivSoakFailures := KivSoakFailures + 1;
    KivPumpMessages;
  end;
end;

function GetCustomSetupExitCode: Integer;
begin
  if KivSoakFailures <> 0 then
    Result := 2
  else
    Result := 0;
end;
