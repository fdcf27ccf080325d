#!/bin/sh
# The NSIS example where nobody can answer: installed and removed on a window
# station of its own (as a deployment running as SYSTEM does), installed
# silently with a service that fails to start, removed without its
# kivunins.ini, and removed while its service refuses to stop. Every run must
# end by itself (kivstation's or timeout's limit shows a hang), failures with
# a non-zero exit code, and leave nothing in the temporary folder. A silent
# install into a folder outside the ANSI code page works, and so does its
# removal.
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

echo "== folders outside the code page"
# The Unicode example hands them to the library as they are: the service
# runs its program from there (under a look-alike path it would not start),
# and the removal runs its hook there.
for folder in 'Kivelstrand-Łódź' '東京\Kivelstrand'; do
    # Straight from wine, the folder reaches the installer as UTF-16 (and
    # without a blank: quoted, NSIS would not read /D= or _?=).
    timeout 60 wine "$work/setup.exe" /S "/D=C:\\$folder" >/dev/null 2>&1 || fail "setup into C:\\$folder failed"
    service_running 1 || fail "the service does not run from C:\\$folder"
    unix_folder=$(winepath -u "C:\\$folder")
    timeout 60 wine "$unix_folder/uninst.exe" /S "_?=C:\\$folder\\" >/dev/null 2>&1 || fail "the removal from C:\\$folder failed"
    rm -f "$unix_folder/uninst.exe"
    check_removed "setup into C:\\$folder" "C:\\$folder"
    echo "C:\\$folder: installed, ran, removed"
    rm -rf "$prefix_c${folder%%\\*}"
done
ls "$prefix_c" | grep -q '^Kivelstrand-L' && fail "a folder was made under a best-fit name: $(ls "$prefix_c")"

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
