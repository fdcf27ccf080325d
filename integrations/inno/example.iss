; A complete installer of a small Kivelstrand payload with kiv_inst.dll: the
; program under Program Files, its data in a folder Setup creates, protected,
; on the drive the user picks with the drive chooser (interactive only), a
; status window with a clip while the files are copied and the render service
; starts, the service created once and kept through upgrades (one from 1.0.0,
; whose program lay at a drive root, moves it under Program Files), the
; uninstall script kivunins.ini beside the library, and an uninstaller that
; removes it all, and nothing else, through the library's uninstall hook and
; its own code, and says so when it could not. In English, German and
; Japanese: Setup's pages, the example's own texts and the drive chooser.
;
; From the release's root folder, with the service program there too (a
; relative KivServiceExe is taken from the release's root, KivDist):
;   iscc /DKivServiceExe=kivrender.exe integrations\inno\example.iss
;
; Silent: kivelstrand-setup.exe /VERYSILENT /SUPPRESSMSGBOXES
; Exit codes: Inno Setup's own (1: the program folder is not below Program
; Files; 2: cancelled, in the wizard or in the drive chooser; 7: the data
; folder exists and is not this product's, is a link, or lies on a drive
; that keeps no access rights, or the earlier version's kivunins.ini could
; not be replaced, and nothing was changed), and 9 when Kivelstrand is
; installed but its render service did not start.

#ifndef KivDist
  #define KivDist AddBackslash(SourcePath) + "..\.."
#endif
#ifndef KivServiceExe
  #define KivServiceExe "kivrender.exe"
#endif
; ISCC would take a relative Source from the script's own folder.
#if Pos(":", KivServiceExe) == 0 && Pos("\", KivServiceExe) != 1
  #define KivServiceSource KivDist + "\" + KivServiceExe
#else
  #define KivServiceSource KivServiceExe
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
; the elevated uninstaller loads. ProgramFolder keeps an installed version's
; folder when it lies there, and moves one that does not (1.0.0 put it at a
; drive root, where every user may change it).
DefaultDirName={code:ProgramFolder}
UsePreviousAppDir=no
; Shown for a first install; an upgrade goes into ProgramFolder.
DisableDirPage=auto
AlwaysShowDirOnReadyPage=yes
DisableProgramGroupPage=yes
PrivilegesRequired=admin
OutputBaseFilename=kivelstrand-setup
; /DKivInstallIn64BitMode: on 64-bit Windows, the program under the 64-bit
; Program Files and the entry in the 64-bit registry view. Setup and its
; uninstaller stay 32-bit programs, and so does the library they load.
#ifdef KivInstallIn64BitMode
ArchitecturesInstallIn64BitMode=x64compatible
#endif
; The uninstall hook's record lands in the uninstaller's log, which the
; include puts in the Windows folder's Logs: %windir%\Logs\Kivelstrand uninstall.log.
UninstallLogging=yes

; After [Setup]: the include picks the library of Setup's architecture.
#include "kiv_inst.iss"

[Files]
; The library for the calls during Setup, extracted on the first call...
Source: "{#KivDist}\{#KivDllSource}"; Flags: dontcopy
; ...and the uninstall hook's copy, beside kivunins.ini. A reinstall or an
; upgrade always lays down its own copies.
Source: "{#KivDist}\{#KivDllSource}"; DestDir: "{app}"; Flags: ignoreversion; AfterInstall: StartScript
Source: "{#KivServiceSource}"; DestDir: "{app}\bin"; DestName: "kivrender.exe"; Flags: ignoreversion

[INI]
; What the uninstall hook removes: the service. StartScript has made the file
; afresh as UTF-16 before: [INI] entries only add to a file, and 1.1.0's
; script removed the data folder with an elevated "rd /s /q". The data folder is the
; uninstaller's code's to remove, file by file.
Filename: "{app}\kivunins.ini"; Section: "ServiceDelete"; Key: "Service0"; String: "{#KivServiceName}"

[UninstallDelete]
; Removed after the hook has read it.
Type: files; Name: "{app}\kivunins.ini"

[Languages]
Name: "en"; MessagesFile: "compiler:Default.isl"
Name: "de"; MessagesFile: "compiler:Languages\German.isl"
Name: "ja"; MessagesFile: "compiler:Languages\Japanese.isl"

[CustomMessages]
; KivLanguageID: the LanguageID of the language's .isl file, for the drive
; chooser (the include sets it as the thread's language around the call).
en.KivLanguageID=$0409
en.StatusTitle=Kivelstrand Setup
en.DriveTitle=Kivelstrand Setup
en.DriveText=Setup will keep Kivelstrand's data on the drive you select below.
en.StatusStopping=Stopping the Kivelstrand render service...
en.StatusCopying=Copying Kivelstrand, please wait...
en.StatusStarting=Starting the Kivelstrand render service...
en.DataFolderExists=The folder %1 exists already, and Setup did not make it. Setup keeps Kivelstrand's data only in a folder of its own making: choose another drive, or remove the folder.
en.DataFolderIsLink=%1 is a link to another place. Setup keeps Kivelstrand's data only in a folder of its own making: choose another drive, or remove the link.
en.DataFolderNotMade=Setup could not create the folder %1: %2 Nothing was changed.
en.ProgramFolderRefused=Kivelstrand cannot be installed in %1: its service runs as the system account, so its program must lie below %2, where only administrators can change it.
en.ServiceRunsOther=The service %1 runs %2, not %3. Install Kivelstrand into the folder of the installed version, or remove that first.
en.ServiceDidNotStop=The service %1 did not stop, so its program cannot be replaced. Nothing was changed.
en.DataFolderNoRights=The drive %1 keeps no access rights (a FAT or exFAT drive, for one), so every user could change Kivelstrand's data there: choose another drive.
en.ScriptNotReplaced=Setup could not replace %1. Close any program that has the file open, then run Setup again. Nothing was changed.
en.ServiceNotStarted=The service %1 could not be started. Kivelstrand is installed: start the service, or remove Kivelstrand.
en.ServiceStays=The service %1 could not be removed, so Kivelstrand stays installed. Stop the service, then remove Kivelstrand again.
de.KivLanguageID=$0407
de.StatusTitle=Kivelstrand-Setup
de.DriveTitle=Kivelstrand-Setup
de.DriveText=Setup legt die Daten von Kivelstrand auf dem unten gewählten Laufwerk ab.
de.StatusStopping=Der Kivelstrand-Renderdienst wird beendet...
de.StatusCopying=Kivelstrand wird kopiert, bitte warten...
de.StatusStarting=Der Kivelstrand-Renderdienst wird gestartet...
de.DataFolderExists=Der Ordner %1 ist bereits vorhanden und wurde nicht von Setup angelegt. Setup legt die Daten von Kivelstrand nur in einem selbst angelegten Ordner ab: Wählen Sie ein anderes Laufwerk oder entfernen Sie den Ordner.
de.DataFolderIsLink=%1 ist eine symbolische Verknüpfung oder Verzeichnisverbindung zu einem anderen Ort. Setup legt die Daten von Kivelstrand nur in einem selbst angelegten Ordner ab: Wählen Sie ein anderes Laufwerk oder entfernen Sie die symbolische Verknüpfung.
de.DataFolderNotMade=Setup konnte den Ordner %1 nicht anlegen: %2 Es wurde nichts geändert.
de.ProgramFolderRefused=Kivelstrand kann nicht in %1 installiert werden: Sein Dienst läuft unter dem Systemkonto, daher muss das Programm unterhalb von %2 liegen, wo nur Administratoren es ändern können.
de.ServiceRunsOther=Der Dienst %1 führt %2 aus, nicht %3. Installieren Sie Kivelstrand in den Ordner der installierten Version, oder entfernen Sie diese zuerst.
de.ServiceDidNotStop=Der Dienst %1 wurde nicht beendet, daher kann sein Programm nicht ersetzt werden. Es wurde nichts geändert.
de.DataFolderNoRights=Das Laufwerk %1 speichert keine Zugriffsrechte (etwa ein FAT- oder exFAT-Laufwerk), daher könnte jeder Benutzer die Daten von Kivelstrand dort ändern: Wählen Sie ein anderes Laufwerk.
de.ScriptNotReplaced=Setup konnte %1 nicht ersetzen. Schließen Sie jedes Programm, das die Datei geöffnet hat, und führen Sie Setup dann erneut aus. Es wurde nichts geändert.
de.ServiceNotStarted=Der Dienst %1 konnte nicht gestartet werden. Kivelstrand ist installiert: Starten Sie den Dienst, oder entfernen Sie Kivelstrand.
de.ServiceStays=Der Dienst %1 konnte nicht entfernt werden, daher bleibt Kivelstrand installiert. Beenden Sie den Dienst, und entfernen Sie Kivelstrand dann erneut.
ja.KivLanguageID=$0411
ja.StatusTitle=Kivelstrand セットアップ
ja.DriveTitle=Kivelstrand セットアップ
ja.DriveText=Kivelstrand のデータを保存するドライブを下から選択してください。
ja.StatusStopping=Kivelstrand レンダリング サービスを停止しています...
ja.StatusCopying=Kivelstrand をコピーしています。しばらくお待ちください...
ja.StatusStarting=Kivelstrand レンダリング サービスを開始しています...
ja.DataFolderExists=フォルダー %1 は既に存在し、セットアップが作成したものではありません。セットアップは Kivelstrand のデータを自ら作成したフォルダーにのみ保存します。別のドライブを選択するか、フォルダーを削除してください。
ja.DataFolderIsLink=%1 は別の場所へのリンクです。セットアップは Kivelstrand のデータを自ら作成したフォルダーにのみ保存します。別のドライブを選択するか、リンクを削除してください。
ja.DataFolderNotMade=フォルダー %1 を作成できませんでした: %2 何も変更されていません。
ja.ProgramFolderRefused=Kivelstrand を %1 にインストールすることはできません。サービスがシステム アカウントで実行されるため、プログラムは管理者だけが変更できる %2 の下に置く必要があります。
ja.ServiceRunsOther=サービス %1 は %3 ではなく %2 を実行しています。インストール済みのバージョンのフォルダーに Kivelstrand をインストールするか、先にそれを削除してください。
ja.ServiceDidNotStop=サービス %1 が停止しなかったため、プログラムを置き換えられません。何も変更されていません。
ja.DataFolderNoRights=ドライブ %1 はアクセス権を保持しません (FAT や exFAT のドライブなど)。すべてのユーザーがそこにある Kivelstrand のデータを変更できるため、別のドライブを選択してください。
ja.ScriptNotReplaced=%1 を置き換えられませんでした。このファイルを開いているプログラムを閉じてから、もう一度セットアップを実行してください。何も変更されていません。
ja.ServiceNotStarted=サービス %1 を開始できませんでした。Kivelstrand はインストールされています。サービスを開始するか、Kivelstrand を削除してください。
ja.ServiceStays=サービス %1 を削除できなかったため、Kivelstrand はインストールされたままです。サービスを停止してから、もう一度 Kivelstrand を削除してください。

[Code]
const
  KIV_EXIT_SERVICE_NOT_RUNNING = 9;
  DATA_FOLDER = 'KivelstrandData';
  // What Setup puts in the data folder, and all the uninstaller removes
  // there; and the same for a 1.0.0 program folder.
  DATA_FILES = 'cache\frames.idx';
  DATA_FOLDERS = 'cache';
  OLD_FILES = 'bin\kivrender.exe|cache\frames.idx|kiv_inst.dll|kivunins.ini|kivuninslog.txt|unins000.exe|unins000.dat';
  OLD_FOLDERS = 'bin|cache';

var
  // The data folder; whether an earlier install recorded it as its own;
  // whether this run created it and its cache folder.
  DataFolder: String;
  DataRecorded, DataCreated, CacheCreated: Boolean;
  // Whether the drive chooser has given a drive, or was cancelled.
  DriveChosen, DriveCancelled: Boolean;
  // Whether PrepareToInstall made kivunins.ini afresh over an earlier one.
  ScriptMade: Boolean;
  // An installed version's program folder that is not below Program Files.
  OldFolder: String;
  ServiceWasThere, ServiceWasRunning, StoppedForUpgrade, Installed, ServiceFailed: Boolean;
  // The uninstaller's record of the data folder.
  UninstallDataFolder: String;

function ServiceName: String;
begin
  Result := '{#KivServiceName}';
end;

function ScriptPath: String;
begin
  Result := ExpandConstant('{app}\kivunins.ini');
end;

// After the library's copy in {app}, before the [INI] entries. An earlier
// script was replaced in PrepareToInstall, before anything else changed;
// here there was none, so nothing can be added to.
procedure StartScript;
begin
  if not ScriptMade and not KivNewUnicodeScript(ScriptPath) then
    Log('kivunins.ini is written in the ANSI code page; the uninstaller''s own check removes a service the hook cannot name.');
end;

function ServiceProgram: String;
begin
  Result := ExpandConstant('{app}\bin\kivrender.exe');
end;

// The status windows go with a run that shows its progress: an interactive
// one or /SILENT, not /VERYSILENT.
function ShowStatus: Boolean;
var
  Index: Integer;
begin
  Result := True;
  for Index := 1 to ParamCount do
    if CompareText(ParamStr(Index), '/VERYSILENT') = 0 then
      Result := False;
end;

// The status window with Clip and Message: a window that cannot show
// changes nothing else, and Setup's log says so.
procedure ShowStatusWindow(Clip, Message: String);
begin
  if FakeStatusSetAvi(Clip) = 0 then
    Log('The status window''s clip ' + Clip + ' could not be selected.');
  if FakeStatusOpen(CustomMessage(Message), CustomMessage('StatusTitle')) = 0 then
    Log('The status window "' + CustomMessage(Message) + '" shows without its clip.');
end;

procedure CloseStatusWindow;
begin
  if FakeStatusClose = 0 then
    Log('The status window''s clip did not stop; the window closes all the same.');
end;

function IsBelow(Folder, Parent: String): Boolean;
begin
  Parent := Lowercase(AddBackslash(Parent));
  Result := (Pos('..', Folder) = 0) and (Pos(Parent, Lowercase(AddBackslash(Folder))) = 1) and
    (Length(AddBackslash(Folder)) > Length(Parent));
end;

function BelowProgramFiles(Folder: String): Boolean;
begin
  Result := IsBelow(Folder, ExpandConstant('{commonpf32}'));
  if IsWin64 and not Result then
    Result := IsBelow(Folder, ExpandConstant('{commonpf64}'));
end;

function PreviousProgramFolder: String;
begin
  if not RegQueryStringValue(HKLM, KivUninstallKey, 'Inno Setup: App Path', Result) then
    Result := '';
end;

function ProgramFolder(Param: String): String;
begin
  Result := PreviousProgramFolder;
  if (Result = '') or not BelowProgramFiles(Result) then
    Result := ExpandConstant('{autopf}\Kivelstrand');
end;

// Empty when Setup may put its data in Folder: a folder that is there
// already is taken only when an earlier install recorded it as its own,
// a link never, and a new one only on a drive that keeps access rights.
function DataFolderProblem(Folder: String): String;
begin
  Result := '';
  if KivIsLink(Folder) then
    Result := FmtMessage(CustomMessage('DataFolderIsLink'), [Folder])
  else if DataRecorded then
    Exit
  else if DirExists(Folder) or FileExists(Folder) then
    Result := FmtMessage(CustomMessage('DataFolderExists'), [Folder])
  else if not KivKeepsAccessRights(Folder) then
    Result := FmtMessage(CustomMessage('DataFolderNoRights'), [ExtractFileDrive(Folder)]);
end;

function InitializeSetup: Boolean;
begin
  Result := True;
  OldFolder := PreviousProgramFolder;
  if BelowProgramFiles(OldFolder) then
    OldFolder := '';
  // An upgrade keeps the data where they are; a silent run takes the
  // system drive, and is refused in PrepareToInstall, before anything is
  // written, when that will not do.
  DataFolder := GetPreviousData(DATA_FOLDER, '');
  DataRecorded := DataFolder <> '';
  if not DataRecorded then
    DataFolder := ExpandConstant('{sd}\') + DATA_FOLDER;
end;

procedure RegisterPreviousData(PreviousDataKey: Integer);
begin
  SetPreviousData(PreviousDataKey, DATA_FOLDER, DataFolder);
end;

// The drive chooser, from the wizard's page, which is the chooser's owner:
// True once a data folder is settled. Back leaves the user on the page;
// Cancel ends Setup as the wizard's own Cancel does (exit code 2).
function ChooseDataFolder: Boolean;
var
  Drive, Problem: String;
  Answer: Integer;
begin
  Result := False;
  repeat
    Answer := KivAskDrive(20, CustomMessage('DriveTitle'), CustomMessage('DriveText'), Drive);
    case Answer of
      1: DataFolder := Drive + '\' + DATA_FOLDER;
      2:
        begin
          Log('The drive chooser ended with Back: the wizard stays on its page.');
          Exit;
        end;
      3:
        begin
          Log('The drive chooser ended with Cancel: Setup ends.');
          DriveCancelled := True;
          WizardForm.Close;
          Exit;
        end;
    else
      begin
        // 4 no drive listed, -1 not shown (and any other): the system's drive.
        DataFolder := ExpandConstant('{sd}\') + DATA_FOLDER;
        Log('The drive chooser gave ' + IntToStr(Answer) + ': the data go to ' + DataFolder + '.');
      end;
    end;
    Problem := DataFolderProblem(DataFolder);
    if Problem <> '' then begin
      Log(Problem);
      MsgBox(Problem, mbError, MB_OK);
      // Without a chooser there is no other drive to offer: the wizard
      // stays on its page, and the user may cancel.
      if Answer <> 1 then
        Exit;
    end;
  until Problem = '';
  DriveChosen := True;
  Result := True;
end;

// Cancel in the drive chooser has answered the question already.
procedure CancelButtonClick(CurPageID: Integer; var Cancel, Confirm: Boolean);
begin
  if DriveCancelled then
    Confirm := False;
end;

// On the folder page, and before the ready page for a folder given by /DIR=
// (a silent Setup ends with exit code 1); then, interactively, the drive
// chooser, once: on the folder page, or on the ready page when the folder
// page was not shown.
function NextButtonClick(CurPageID: Integer): Boolean;
var
  Problem: String;
begin
  Result := True;
  if (CurPageID <> wpSelectDir) and (CurPageID <> wpReady) then
    Exit;
  if not BelowProgramFiles(WizardDirValue) then begin
    Problem := FmtMessage(CustomMessage('ProgramFolderRefused'), [WizardDirValue, ExpandConstant('{autopf}')]);
    Log(Problem);
    if not WizardSilent then
      MsgBox(Problem, mbError, MB_OK);
    Result := False;
    Exit;
  end;
  if not WizardSilent and not DataRecorded and not DriveChosen then
    Result := ChooseDataFolder;
end;

// The data folder, and its cache folder, made here and nowhere else; or an
// earlier install's, taken as it is.
function MakeDataFolder(Folder: String; var Made: Boolean): String;
var
  Error: Cardinal;
begin
  Made := False;
  Result := DataFolderProblem(Folder);
  if (Result <> '') or DirExists(Folder) then
    Exit;
  Error := KivCreateProtectedFolder(Folder);
  Made := Error = 0;
  if not Made then
    Result := FmtMessage(CustomMessage('DataFolderNotMade'), [Folder, SysErrorMessage(Error)]);
end;

// Whether ImagePath runs Exe, quoted or not, and the arguments after it.
function RunsProgram(ImagePath, Exe: String; var Arguments: String): Boolean;
var
  At: Integer;
begin
  At := Pos(Lowercase(Exe), Lowercase(ImagePath));
  Result := (At = 1) or ((At = 2) and (Copy(ImagePath, 1, 1) = '"'));
  if not Result then
    Exit;
  Arguments := Copy(ImagePath, At + Length(Exe), MaxInt);
  if Copy(Arguments, 1, 1) = '"' then
    Arguments := Copy(Arguments, 2, MaxInt);
end;

// Before any file is written. First what refuses the install, so that a
// refusal changes nothing; then an earlier version's kivunins.ini is
// replaced whole (or the install ends here), the data folder is made, and
// an installed service is stopped so that its program can be replaced; it
// stays registered with whatever an administrator set on it.
function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  ImagePath, Arguments: String;
begin
  Result := DataFolderProblem(DataFolder);
  ServiceWasThere := ServiceExists(ServiceName) = 1;
  if (Result = '') and ServiceWasThere and
     RegQueryStringValue(HKLM, 'SYSTEM\CurrentControlSet\Services\' + ServiceName, 'ImagePath', ImagePath) and
     not RunsProgram(ImagePath, ServiceProgram, Arguments) and
     ((OldFolder = '') or not RunsProgram(ImagePath, OldFolder + '\bin\kivrender.exe', Arguments)) then
    Result := FmtMessage(CustomMessage('ServiceRunsOther'), [ServiceName, ImagePath, ServiceProgram]);
  // [INI] entries would be added to whatever is left of the earlier script.
  if (Result = '') and FileExists(ScriptPath) then begin
    ScriptMade := KivNewUnicodeScript(ScriptPath);
    if not ScriptMade then
      Result := FmtMessage(CustomMessage('ScriptNotReplaced'), [ScriptPath]);
  end;
  if Result = '' then
    Result := MakeDataFolder(DataFolder, DataCreated);
  if Result = '' then
    Result := MakeDataFolder(DataFolder + '\cache', CacheCreated);
  if Result <> '' then
    Log(Result);
  if (Result <> '') or not ServiceWasThere then
    Exit;
  ServiceWasRunning := ServiceIsRunning(ServiceName) = 1;
  if ServiceWasRunning and ShowStatus then
    ShowStatusWindow(':BKW', 'StatusStopping');
  // Waits for one still stopping too; a stopped one gives 1 at once.
  StoppedForUpgrade := ServiceStop(ServiceName) = 1;
  if ServiceWasRunning and ShowStatus then
    CloseStatusWindow;
  if not StoppedForUpgrade then
    Result := FmtMessage(CustomMessage('ServiceDidNotStop'), [ServiceName]);
end;

// The service of a version whose program lay outside Program Files runs the
// new program from now on, with its arguments and everything else kept;
// then the old folder loses what that version put there.
procedure MoveFromOldFolder;
var
  ImagePath, Arguments: String;
  Error: Cardinal;
begin
  if OldFolder = '' then
    Exit;
  if ServiceWasThere and
     RegQueryStringValue(HKLM, 'SYSTEM\CurrentControlSet\Services\' + ServiceName, 'ImagePath', ImagePath) and
     RunsProgram(ImagePath, OldFolder + '\bin\kivrender.exe', Arguments) then
    if KivServiceSetBinaryPath(ServiceName, '"' + ServiceProgram + '"' + Arguments) <> 1 then begin
      Log('The service ' + ServiceName + ' still runs ' + ImagePath + '; ' + OldFolder + ' is kept.');
      Exit;
    end;
  // Every user may change a folder at a drive root: only once it is
  // administrators' alone is what lies in it checked for links and removed.
  Error := KivProtectFolder(OldFolder);
  if Error <> 0 then begin
    Log(OldFolder + ' could not be made administrators'' alone (' + IntToStr(Error) + '): it is left in place.');
    Exit;
  end;
  Log('Removing what the earlier version put in ' + OldFolder + '.');
  KivRemoveCreated(OldFolder, OLD_FILES, OLD_FOLDERS);
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  case CurStep of
    ssInstall:
      if ShowStatus then
        ShowStatusWindow(':FILECOPY', 'StatusCopying');
    ssPostInstall:
      begin
        Installed := True;
        // Only into the folder made by this run: an earlier install's file
        // stays as it is.
        if CacheCreated and not SaveStringToFile(DataFolder + '\cache\frames.idx', '', False) then
          Log('Could not create ' + DataFolder + '\cache\frames.idx.');
        if ShowStatus then begin
          ShowStatusWindow(':BKW', 'StatusStarting');
          KivPumpMessages;
        end;
        MoveFromOldFolder;
        // Created once; an upgrade keeps the service as it is. The path is
        // quoted: it holds blanks.
        if not ServiceWasThere and (ServiceCreate(ServiceName, KIV_SERVICE_WIN32_OWN_PROCESS, KIV_SERVICE_AUTO_START,
            '"' + ServiceProgram + '"{#KivServiceArgs != "" ? " " + KivServiceArgs : ""}', '', '') <> 1) then
          Log('The render service ' + ServiceName + ' could not be created.');
        // A service an administrator had stopped stays stopped.
        if (not ServiceWasThere or ServiceWasRunning) and (ServiceStart(ServiceName) <> 1) then begin
          Log('The render service ' + ServiceName + ' did not start.');
          ServiceFailed := True;
        end;
        if ShowStatus then
          CloseStatusWindow;
        if ServiceFailed and not WizardSilent then
          MsgBox(FmtMessage(CustomMessage('ServiceNotStarted'), [ServiceName]), mbError, MB_OK);
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
// the old program is still in place, so it runs again. A data folder made
// for nothing goes again.
procedure DeinitializeSetup;
begin
  if StoppedForUpgrade and ServiceWasRunning and not Installed and (ServiceStart(ServiceName) <> 1) then
    Log('The installed version''s service ' + ServiceName + ' did not start again.');
  if CacheCreated and not Installed then
    RemoveDir(DataFolder + '\cache');
  if DataCreated and not Installed then
    RemoveDir(DataFolder);
end;

// The data folder as Setup recorded it, read while the entry is still
// there; removed once the uninstaller has done the rest.
procedure RemoveData(CurUninstallStep: TUninstallStep);
begin
  if CurUninstallStep = usUninstall then begin
    if not RegQueryStringValue(HKLM, KivUninstallKey, 'Inno Setup CodeFile: ' + DATA_FOLDER, UninstallDataFolder) then
      Log('No data folder recorded.');
  end else if (CurUninstallStep = usPostUninstall) and (UninstallDataFolder <> '') then
    KivRemoveCreated(UninstallDataFolder, DATA_FILES, DATA_FOLDERS);
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
  RemoveData(CurUninstallStep);
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
  if (ServiceDelete(ServiceName) = 1) or (ServiceExists(ServiceName) = 0) then
    Exit;
  Log('The service ' + ServiceName + ' is still installed: the removal stops here.');
  if not UninstallSilent then
    MsgBox(FmtMessage(CustomMessage('ServiceStays'), [ServiceName]), mbError, MB_OK);
  Abort;
end;
