#!/bin/sh
# The NSIS example where nobody can answer: installed and removed on a window
# station of its own (as a deployment running as SYSTEM does), installed
# silently with a service that fails to start, removed without its
# kivunins.ini, and removed while its service refuses to stop. Every run must
# end by itself (kivstation's or timeout's limit shows a hang), failures with
# a non-zero exit code, and leave nothing in the temporary folder. A silent
# install into a folder outside the ANSI code page, of a service named
# outside it, works, and so does its removal by the hook.
#
#   sh nsis_unattended.sh BUILD [ISCC.exe]
kind=unattended
. "$(dirname "$0")/nsis_common.sh"
service_running() {
    kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> $1"
}

build_example setup
build_example setup-flapping -DKIV_SERVICE_ARGS=flapping
build_example setup-nostop -DKIV_SERVICE_ARGS=nostop

echo "== folders and a service name outside the code page"
# The Unicode example hands them to the library as they are, and writes the
# uninstall script in UTF-16: the service runs its program from there (under
# a look-alike path it would not start, and setup would end with 2), and the
# hook removes it by its name exactly.
unicode_service='KivDemo-Łódź-東京'
unicode_key="HKLM\\System\\CurrentControlSet\\Services\\$unicode_service"
LC_ALL=en_US.UTF-8 makensis -V2 -DKIV_DIST="$bin" -DKIV_SERVICE_EXE="$bin/kivtestsvc.exe" \
    -DKIV_SERVICE_NAME="$unicode_service" -DKIV_OUTFILE="$work/setup-unicode.exe" \
    "$top/integrations/nsis/example.nsi" >/dev/null || fail "makensis failed for setup-unicode"
for folder in 'Kivelstrand-Łódź' '東京\Kivelstrand'; do
    # Straight from wine, the folder reaches the installer as UTF-16. NSIS
    # reads /D= and _?= only unquoted: given in two arguments split at the
    # blank, wine joins them with the blank and no quotes.
    timeout 60 wine "$work/setup-unicode.exe" /S '/D=C:\Program' "Files\\$folder" >/dev/null 2>&1 ||
        fail "setup into $program_files\\$folder failed"
    LC_ALL=en_US.UTF-8 wine reg query "$unicode_key" >/dev/null 2>&1 || fail "no service $unicode_service"
    unix_folder=$(winepath -u "$program_files\\$folder")
    # The hook's record says whom it removed: Wine's event log trace writes
    # the name's characters outside ASCII as \XXXX.
    WINEDEBUG=+eventlog timeout 60 wine "$unix_folder/uninst.exe" /S '_?=C:\Program' "Files\\$folder\\" \
        >/dev/null 2> "$work/unicode-events.txt" || fail "the removal from $program_files\\$folder failed"
    grep -qF 'KIV_NT_RemoveService: Removed service KivDemo-\0141\00f3d\017a-\6771\4eac.' "$work/unicode-events.txt" ||
        fail "the hook did not remove $unicode_service by its name"
    removal_log > "$work/unicode-log.txt"
    grep -qxF "Value is $unicode_service" "$work/unicode-log.txt" ||
        fail "the hook's log does not name $unicode_service: $(cat "$work/unicode-log.txt")"
    LC_ALL=en_US.UTF-8 wine reg query "$unicode_key" >/dev/null 2>&1 && fail "the hook left $unicode_service"
    rm -f "$unix_folder/uninst.exe"
    left=$(cd "$unix_folder" 2>/dev/null && ls -A)
    [ -z "$left" ] || fail "left in $program_files\\$folder: $left"
    wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "the uninstall entry of $folder is still there"
    echo "$program_files\\$folder: $unicode_service installed, ran, removed by the hook"
    rm -rf "$(winepath -u "$program_files")/${folder%%\\*}"
done
ls "$(winepath -u "$program_files")" | grep -q '^Kivelstrand-L' && fail "a folder was made under a best-fit name"
kivhost ServiceExists 'KivDemo-Lodz-??' | grep -q "ServiceExists -> 0" || fail "a look-alike service was made"

echo "== on a window station of its own"
run_line station-setup station "\"$(winepath -w "$work/setup.exe")\" /S" || fail "setup failed or waited"
service_running 1 || fail "the service does not run after setup on the station"
run_line station-remove station "$remove_line" || fail "the removal failed or waited"
removed "removal on the station"

echo "== silent, on the desktop, a service that does not start"
# The example's code for a failure; a box waiting for a click would end in
# the time-out's 124 instead.
run_line start-fails desktop "\"$(winepath -w "$work/setup-flapping.exe")\" /S"
[ $? = 2 ] || fail "setup did not fail on its own"
[ -f "$unix_dir/uninst.exe" ] || fail "no uninstaller left to remove what the failed setup installed"
echo "== without kivunins.ini"
rm "$unix_dir/kivunins.ini"
run_line no-script desktop "$remove_line" || fail "the removal failed"
removed "removal without kivunins.ini"

echo "== a service that refuses to stop"
run_line nostop-setup desktop "\"$(winepath -w "$work/setup-nostop.exe")\" /S" || fail "setup failed"
run_line nostop-remove desktop "$remove_line"
[ $? = 2 ] || fail "a removal that left the service did not fail on its own"
service_running 1 || fail "the service that refuses to stop is gone"
wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall entry is gone though the service stays"
[ -f "$unix_dir/uninst.exe" ] || fail "the uninstaller is gone though the service stays"
# Once it is stopped the product can be removed after all.
wine taskkill /f /im kivrender.exe >/dev/null 2>&1
run_line nostop-again desktop "$remove_line" || fail "the second removal failed"
removed "the second removal"

[ -z "$(temp_folders)" ] || fail "left in the temporary folder: $(temp_folders)"
echo "nsis unattended: every run ended by itself; failures exited non-zero; nothing left in the temporary folder"
clean_product
