#!/bin/sh
# Inno Setup: the example in Japanese on a Western system (Wine locale
# en_US.UTF-8, ANSI code page 1252, where no Japanese character has a
# byte). A /SILENT run shows its status window; its caption and line are
# read back from the window and must be the script's Japanese texts exactly.
# Then the product is removed. Before that, a German Setup's drive chooser
# speaks German, the drive comes back, and the thread's locale and preferred
# UI languages are put back; and which drives keep access rights.
#
#   sh inno_languages.sh BUILD ISCC.exe
set -u
part=languages
. "$(dirname "$0")/inno_common.sh"

echo "== compiling"
# A service slow to start keeps the status window up.
example setup "$bin/kivtestsvc.exe" "/DKivServiceArgs=slowstart 3000"

echo "== the drive chooser from a German Setup"
# The include's AskDrive: the dialog speaks Setup's language on an English
# system, the drive comes back through the caller's string, and the thread's
# locale, set to German for the call, is put back after it.
cat > "$work/drive.iss" <<ISS
[Setup]
AppName=Kivelstrand drive test
AppVersion=1
DefaultDirName={autopf}\\Kivelstrand drive test
Uninstallable=no
[Languages]
Name: "de"; MessagesFile: "compiler:Languages\\German.isl"
[CustomMessages]
de.KivLanguageID=\$0407
[Files]
Source: "$(winepath -w "$bin")\\kiv_inst.dll"; Flags: dontcopy
#include "$(winepath -w "$top/integrations/inno/kiv_inst.iss")"
[Code]
function Flag(Value: Boolean): String;
begin
  Result := IntToStr(Ord(Value));
end;

function InitializeSetup: Boolean;
var
  Drive, Before, After: String;
  Answer: Integer;
  Saved: Boolean;
begin
  Saved := KivSaveThreadLanguages(Before);
  Answer := KivAskDrive(1, 'Kiv drive test', 'Pick a drive', Drive);
  Saved := KivSaveThreadLanguages(After) and Saved;
  // The drive of the test bench keeps access rights; a drive that is not
  // there is taken for one that does not.
  SaveStringToFile('$(winepath -w "$work")\\drive.txt', IntToStr(Answer) + ' ' + Drive + ' ' +
    Format('%.4x', [KivGetThreadLocale]) + ' saved=' + Flag(Saved) + ' kept=' + Flag(Before = After) +
    ' rights=' + Flag(KivKeepsAccessRights('C:\\KivelstrandData')) + Flag(KivKeepsAccessRights('Q:\\KivelstrandData')), False);
  Result := False;
end;
ISS
wine "$iscc" /Q "/O$(winepath -w "$work")" /Fdrive "$(winepath -w "$work/drive.iss")" || fail "ISCC failed for drive.iss"
LC_ALL=en_US.UTF-8 timeout 60 wine "$work/drive.exe" &
setup=$!
chooser=$(KIV_WINDOW_PREFIX='Kiv drive test' LC_ALL=en_US.UTF-8 wine "$bin/wintext.exe" 30 | tr -d '\r')
wine "$bin/dlgpress.exe" "Kiv drive test" 3 >/dev/null || fail "the drive chooser did not show"
echo "$chooser"
# Setup's language, not the user's (English): the German dialog.
echo "$chooser" | grep -qx '&Weiter >' || fail "the drive chooser does not speak Setup's German"
wait $setup
got=$(cat "$work/drive.txt")
echo "drive chooser: $got"
# Next, the drive, the locale put back; the thread's preferred UI languages
# read before and after, and the same (Wine 8 only pretends to set them);
# C: keeps access rights, Q: is not there.
expected="1 C: 0409 saved=1 kept=1 rights=10"
[ "$got" = "$expected" ] || fail "drive chooser: '$got', not '$expected'"

echo "== Japanese, code page 1252"
title='Kivelstrand セットアップ'
copying='Kivelstrand をコピーしています。しばらくお待ちください...'
starting='Kivelstrand レンダリング サービスを開始しています...'
LC_ALL=en_US.UTF-8 timeout 90 wine "$work/setup.exe" /SILENT /SUPPRESSMSGBOXES /LANG=ja &
setup=$!
# Found by the caption's first word, so that a caption that lost its
# Japanese on the way shows as it is.
texts=$(KIV_WINDOW_PREFIX=Kivelstrand LC_ALL=en_US.UTF-8 wine "$bin/wintext.exe" 60 | tr -d '\r')
wait $setup || fail "setup in Japanese: exit code $?"
echo "$texts"
[ "$texts" = "$title
$copying" ] || [ "$texts" = "$title
$starting" ] || fail "the status window does not hold the script's Japanese texts (above)"
wine reg query "$entry" /v "Inno Setup: Language" | tr -d '\r' | grep -q 'REG_SZ *ja$' || fail "Setup did not run in Japanese"
running || fail "the service does not run"
# shellcheck disable=SC2086
bounded 90 "$unix_app/unins000.exe" $silent || fail "removal: exit code $?"
removed
echo "inno languages: the status window showed the Japanese texts exactly; the drive chooser's drive came back"
