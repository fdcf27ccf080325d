#!/bin/sh
# An installer engine end to end: compiles the engine's example installer,
# runs it silently, checks that the service it installs runs, then removes
# the program as the system's list of programs does (sysremove: the registered
# UninstallString, unchanged, started by CreateProcessA) and checks that the
# uninstall hook removed the service, ran the custom command and logged this
# run in the installation folder.
#
#   sh engine_test.sh nsis|inno BUILD [ISCC.exe]
set -u
engine=$1
build=$(cd "$2" && pwd)
iscc=${3:-}
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="$build/bin"
work="$build/engines/$engine"
service="KivExample_$engine"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

fail() {
    echo "$engine: $*" >&2
    exit 1
}
kivhost() {
    wine "$bin/kivhost.exe" "$@" | tr -d '\r'
}
# The installation folder, read back from the hook's option in the entry.
install_dir() {
    wine reg query "$uninstall_key\\$key" /v UninstallString 2>/dev/null | tr -d '\r' |
        sed -n 's/.*UninstallString.*REG_SZ.* -c"\(.*\)\\kiv_inst\.dll".*/\1/p'
}

case $engine in
nsis)
    key=Kivelstrand
    silent=/S ;;
inno)
    key=Kivelstrand_is1
    silent="/VERYSILENT /SUPPRESSMSGBOXES"
    [ -f "$iscc" ] || fail "no Inno Setup compiler at '$iscc' (make deps fetches it)" ;;
*)
    fail "unknown engine" ;;
esac

# Whatever an earlier run left behind.
old=$(install_dir)
[ -n "$old" ] && rm -rf "$(winepath -u "$old")"
wine reg delete "$uninstall_key\\$key" /f >/dev/null 2>&1
kivhost ServiceDelete "$service" >/dev/null
# The Inno example refuses a data folder it finds there.
[ "$engine" = inno ] && rm -rf "$(winepath -u 'C:\KivelstrandData')"
rm -rf "$work"
mkdir -p "$work"

echo "== compiling the example"
if [ "$engine" = nsis ]; then
    makensis -V2 -DKIV_DIST="$bin" -DKIV_SERVICE_EXE="$bin/kivtestsvc.exe" -DKIV_SERVICE_NAME="$service" \
        -DKIV_OUTFILE="$work/kivelstrand-setup.exe" "$top/integrations/nsis/example.nsi" || fail "makensis failed"
else
    wine "$iscc" /Q "/DKivDist=$(winepath -w "$bin")" "/DKivServiceExe=$(winepath -w "$bin/kivtestsvc.exe")" \
        "/DKivServiceName=$service" "/O$(winepath -w "$work")" /Fkivelstrand-setup \
        "$(winepath -w "$top/integrations/inno/example.iss")" || fail "ISCC failed"
fi

echo "== setup $silent"
# shellcheck disable=SC2086
wine "$work/kivelstrand-setup.exe" $silent || fail "setup failed"
dir=$(install_dir)
[ -n "$dir" ] || fail "the uninstall entry does not carry -c\"<folder>\\kiv_inst.dll\""
echo "installed in $dir"
unix_dir=$(winepath -u "$dir")
# Setup writes no log: one there is an earlier run's.
rm -f "$unix_dir/kivuninslog.txt"
# The data and the commands of the example's uninstall script, and where
# the hook's log goes. The Inno example keeps the data on the chosen drive
# (the system's when silent) and its uninstaller deletes them by name; the
# include copies the hook's log into the uninstaller's own, which the entry
# puts in the Windows folder's Logs (only administrators may write there),
# and the program folder goes. The NSIS example keeps the data beside the
# program when silent and deletes them by name itself; its uninstaller
# moves the log into a folder it makes in the temporary folder, under a
# name of its own, so that no folder stays behind.
# Neither has a command.
temp=$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')")
if [ "$engine" = inno ]; then
    data='C:\KivelstrandData'
    uninstall_log="$(winepath -u 'C:\windows\Logs')/Kivelstrand uninstall.log"
    rm -f "$uninstall_log"
    log="$work/log.txt"
else
    data="$dir\\cache"
    rm -rf "$temp"/Kivelstrand\ removal\ *
    log="$work/log.txt"
fi
commands="Key name is Command0"
after=
rm -f "$log"
unix_data=$(winepath -u "$data")
state=$(kivhost ServiceExists "$service" ServiceIsRunning "$service")
echo "$state"
echo "$state" | grep -q "ServiceIsRunning -> 1" || fail "the service does not run after setup"

echo "== removal from the list of programs"
wine "$bin/sysremove.exe" "$key" | tr -d '\r' || fail "the uninstaller did not end"
state=$(kivhost ServiceExists "$service")
echo "$state"
echo "$state" | grep -q "ServiceExists -> 0" || fail "the service is still there"

# The log holds this run's block only.
cat > "$work/expected-log.txt" <<LOG
=====================================
BEGIN Kivelstrand UN-install log file
Log file name is $dir\\kivuninslog.txt
Section is ServiceDelete
Key name is Service0
Value is $service
Key name is Service1
Value is NOT_FOUND
Section is CustomCommand
$commands
Value is NOT_FOUND
END Kivelstrand UN-install log file
=====================================
LOG
# The Inno uninstaller logs each line with a time stamp.
[ "$engine" = inno ] && tr -d '\r' < "$uninstall_log" |
    sed -n 's/^[-0-9]* [0-9:.]*   kivuninslog\.txt: //p' > "$log"
# The NSIS uninstaller's copy ends after the system's removal has returned;
# its log is in a folder it made, "Kivelstrand removal {GUID}". The hook
# wrote it in UTF-8 (the script is Unicode): compared without the mark.
if [ "$engine" = nsis ]; then
    for _ in $(seq 1 100); do
        ls "$temp"/Kivelstrand\ removal\ \{*\}/kivuninslog.txt >/dev/null 2>&1 && break
        sleep 0.1
    done
    folders=$(ls -d "$temp"/Kivelstrand\ removal\ \{*\} 2>/dev/null | wc -l)
    [ "$folders" = 1 ] || fail "$folders folders of the removal's log in $temp"
    sed '1s/^\xef\xbb\xbf//' "$temp"/Kivelstrand\ removal\ \{*\}/kivuninslog.txt > "$log"
    rm -rf "$temp"/Kivelstrand\ removal\ *
fi
[ -f "$log" ] || fail "no log of the removal at $log"
tr -d '\r' < "$log" | diff "$work/expected-log.txt" - || fail "the log of the removal differs"
# The hook starts the command and does not wait for it; Inno's second phase
# goes on after the first has ended.
for _ in $(seq 1 100); do
    [ -d "$unix_data" ] || break
    sleep 0.1
done
[ -d "$unix_data" ] && fail "the removal left $data"
for _ in $(seq 1 100); do
    left=$(cd "$unix_dir" 2>/dev/null && ls -A)
    [ "$left" = "$after" ] && break
    sleep 0.1
done
[ "$left" = "$after" ] || fail "left in the folder: $left"
wine reg query "$uninstall_key\\$key" >/dev/null 2>&1 && fail "the uninstall entry is still there"
rm -rf "$unix_dir"
echo "$engine: installed, ran, removed by the hook"

if [ "$engine" = inno ]; then
    sh "$(dirname "$0")/inno_languages.sh" "$build" "$iscc" || exit 1
    exit 0
fi
echo "== the macros in ANSI and Unicode installers"
for charset in ansi unicode; do
    flag=
    [ "$charset" = unicode ] && flag=-DKIV_UNICODE
    makensis -V2 $flag -DKIV_DIST="$bin" -DKIV_OUT="$work" "$(dirname "$0")/macros.nsi" || fail "makensis failed"
    wine "$bin/dlgpress.exe" "kiv drive $charset" 3 >/dev/null &
    # The thread's languages around the chooser, from Wine's trace of the
    # calls: Wine 8's preferred-language calls do nothing, so the calls are
    # what can be checked.
    wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'SetThreadPreferredUILanguages;SetThreadLocale' /f >/dev/null 2>&1
    WINEDEBUG=+relay wine "$work/macros-$charset.exe" 2> "$work/macros-$charset.relay"
    status=$?
    wine reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1
    [ $status = 0 ] || fail "$charset installer failed"
    wait
    calls=$(sed -n 's/^[0-9a-f]*:Call [A-Za-z0-9]*\.\(SetThread[A-Za-z]*\)(\([0-9a-f]*\)[,)].*/\1 \2/p' \
        "$work/macros-$charset.relay" | tr '\n' '|')
    echo "$charset: $calls"
    # The installer's language set (a list of languages by their numbers,
    # MUI_LANGUAGE_ID; the locale 0x415), then both put back in the reverse
    # order (the saved list, the locale the thread had). The trace shows no
    # list's text: which list goes in is checked by reading the include.
    [ "$calls" = "SetThreadPreferredUILanguages 00000004|SetThreadLocale 00000415|SetThreadLocale 00000409|SetThreadPreferredUILanguages 00000004|" ] ||
        fail "$charset: the thread's languages were not set and put back as expected"
    got=$(cat "$work/macros-$charset.txt")
    echo "$charset: $got"
    # Only a Unicode installer holds a text outside the code page; its status
    # window shows it exactly.
    wide=
    [ "$charset" = unicode ] && wide=" wide=1,clear,exact"
    [ "$got" = "exists=0 open=1,clear window=shown close=1 after-close=0 stopall=1 drive=1,C: locale=kept$wide script=0,0,0,clear held=5,set,gone folders=183,267 pinned=gave-up register=kept" ] ||
        fail "$charset: unexpected results"
    # The script the macros made, held and not replaced: UTF-16 LE with its
    # mark, the one entry exactly as the installer had it.
    name=KivDemo-café
    [ "$charset" = unicode ] && name=KivDemo-Łódź-東京
    [ "$(head -c 2 "$work/script-$charset.ini" | od -An -tx1 | tr -d ' ')" = fffe ] || fail "$charset: the script is not UTF-16"
    [ "$(iconv -f UTF-16 -t UTF-8 "$work/script-$charset.ini" | tr -d '\r')" = "$(printf '[ServiceDelete]\nService0=%s' "$name")" ] ||
        fail "$charset: the script holds '$(iconv -f UTF-16 -t UTF-8 "$work/script-$charset.ini")'"
    rm -f "$work/script-$charset.ini"
done

echo "== the example in Polish, on code page 1252"
# The Wine process's locale is en_US (code page 1252, which lacks ę, ł, ń):
# only the wide exports can show the Polish texts as they are. The status
# reader reads the drive chooser (its own words in Polish: the installer's
# language reached the library) and answers it, reads the status window's
# line and closes the finished installer; dlgpress answers the directory
# page.
export LC_ALL=en_US.utf8
makensis -V2 -DCAPTION="Instalator Kivelstrand" -DDONE="Instalator Kivelstrand 1.2.0: Zakończono" -DKIV_OUT="$work" \
    "$(dirname "$0")/nsis_statusread.nsi" || fail "makensis failed for the status reader"
wine "$work/statusread.exe" &
reader=$!
wine "$work/kivelstrand-setup.exe" /LANG=1045 &
setup=$!
wine "$bin/dlgpress.exe" "Instalator Kivelstrand 1.2.0: Folder instalacyjny" 1 >/dev/null ||
    fail "the Polish directory page did not show"
wait $reader
wait $setup || fail "the Polish setup failed"
texts=$(iconv -f UTF-16LE -t UTF-8 "$work/status-texts.txt")
echo "$texts"
chooser="chooser: &Dalej > | Pamięć podręczna renderowania Kivelstrand zostanie umieszczona na wybranym poniżej dysku."
copying="Kopiowanie plików Kivelstrand, proszę czekać..."
starting="Uruchamianie usługi renderowania Kivelstrand..."
[ "$(echo "$texts" | head -1)" = "$chooser" ] || fail "the drive chooser did not read '$chooser'"
echo "$texts" | grep -qxF "$starting" || fail "the status window did not read '$starting'"
echo "$texts" | sed 1d | grep -vxF -e "$copying" -e "$starting" | grep -q . && fail "the status window read other texts"
kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "the service does not run after the Polish setup"
wine "$bin/sysremove.exe" "$key" >/dev/null || fail "the uninstaller did not end"
[ -e "$unix_dir" ] && fail "the removal left $dir"
echo "nsis: the Polish installer's drive chooser and status texts shown exactly"
