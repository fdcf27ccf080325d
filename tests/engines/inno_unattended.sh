#!/bin/sh
# Inno Setup: installs and removals that nobody can answer. Each run must end
# on its own (a time-out shows a hang):
# - installed and removed from a window station of its own making, as a
#   deployment running as SYSTEM would;
# - installed silently on the visible desktop with a service that falls over
#   at its start: exit code 9, then removed;
# - a folder and a service name outside the ANSI code page: installed and
#   removed, each exactly as given;
# - a service that refuses to stop: the removal exits non-zero and keeps the
#   entry, and once the service has gone, the product can still be removed.
# Setup leaves nothing of itself (is-*.tmp, the library's copy in it) in the
# temporary folder.
#
#   sh inno_unattended.sh BUILD ISCC.exe
set -u
part=unattended
. "$(dirname "$0")/inno_common.sh"

# Setup's own temporary folders, with the library's copy in each.
rm -rf "$temp"/is-*.tmp

echo "== compiling"
example setup "$bin/kivtestsvc.exe"
example setup-flapping "$bin/kivtestsvc.exe" /DKivServiceArgs=flapping
example setup-nostop "$bin/kivtestsvc.exe" /DKivServiceArgs=nostop
example setup-lodz "$bin/kivtestsvc.exe" /DKivServiceName=KivExample_Łódź

echo "== on a window station of its own"
# shellcheck disable=SC2086
wine "$bin/kivstation.exe" 120000 "$(winepath -w "$work/setup.exe")" $silent
status=$?
[ "$status" -eq 0 ] || fail "setup on the station: exit code $status"
running || fail "the service does not run after setup on the station"
# shellcheck disable=SC2086
wine "$bin/kivstation.exe" 120000 "$app\\unins000.exe" $silent
status=$?
[ "$status" -eq 0 ] || fail "removal on the station: exit code $status"
removed

echo "== a service that falls over at its start"
# shellcheck disable=SC2086
bounded 90 "$work/setup-flapping.exe" $silent
status=$?
[ "$status" -eq 9 ] || fail "setup with a failing service: exit code $status, not 9"
exists || fail "the failing service is not installed"
# shellcheck disable=SC2086
bounded 90 "$unix_app/unins000.exe" $silent || fail "removal of the failing service: exit code $?"
removed

echo "== a folder and a service name outside the ANSI code page"
# The include passes Inno's Unicode texts to the wide exports: both are taken
# exactly (no look-alike such as KivExample_Lodz), installed and removed.
folder='C:\Program Files\Kivelstrand Łódź 東京'
lodz_key='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\KivExample_Łódź'
utf8() {
    env LC_ALL=en_US.UTF-8 "$@"
}
unix_folder=$(utf8 winepath -u "$folder")
# Whatever an earlier run left there.
rm -rf "$unix_folder"
# shellcheck disable=SC2086
utf8 timeout 90 wine "$work/setup-lodz.exe" $silent "/DIR=$folder" || fail "setup in $folder: exit code $?"
# reg.exe prints through the ANSI code page; regedit exports UTF-16.
utf8 wine regedit /E "$(winepath -w "$work/lodz.reg")" "$lodz_key" || fail "cannot export $lodz_key"
image=$(iconv -f UTF-16LE -t UTF-8 "$work/lodz.reg" | tr -d '\r' |
    sed -n 's/^"ImagePath"="\(.*\)"$/\1/p' | sed -e 's/\\"/"/g' -e 's/\\\\/\\/g')
[ "$image" = "\"$folder\\bin\\kivrender.exe\"" ] || fail "the service KivExample_Łódź runs '$image'"
kivhost ServiceExists KivExample_Lodz | grep -q "ServiceExists -> 0" || fail "a look-alike service was created"
rm -f "$temp"/Uninstall\ Log*.txt
# shellcheck disable=SC2086
utf8 timeout 90 wine "$unix_folder/unins000.exe" $silent /LOG || fail "removal from $folder: exit code $?"
# The script is UTF-16: the hook removes the service itself, the uninstaller's
# own check finds nothing left.
grep -aq "kivuninslog.txt: Value is KivExample_" "$temp"/Uninstall\ Log*.txt || fail "the hook did not run"
grep -aq "left the service" "$temp"/Uninstall\ Log*.txt && fail "the hook did not remove KivExample_Łódź"
utf8 wine reg query "$lodz_key" >/dev/null 2>&1 && fail "the service KivExample_Łódź is still installed"
has_entry && fail "the uninstall entry is still there"
for _ in $(seq 1 100); do
    [ -e "$unix_folder" ] || break
    sleep 0.1
done
[ -e "$unix_folder" ] && fail "left in $folder: $(cd "$unix_folder" && find . -mindepth 1)"
[ -e "$unix_data" ] && fail "the data folder $data is still there"
echo "installed and removed: $folder, KivExample_Łódź"

echo "== a service that refuses to stop"
# shellcheck disable=SC2086
bounded 90 "$work/setup-nostop.exe" $silent || fail "setup with nostop: exit code $?"
# shellcheck disable=SC2086
bounded 90 "$unix_app/unins000.exe" $silent
status=$?
[ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "removal of a service that stays: exit code $status"
exists || fail "the service that refuses to stop is gone"
has_entry || fail "the failed removal deleted the uninstall entry"
for file in unins000.exe kiv_inst.dll kivunins.ini; do
    [ -f "$unix_app/$file" ] || fail "the failed removal deleted $file"
done
echo "removal refused: exit code $status, entry kept"
# The hook has marked the service for deletion: it goes with its process.
pid=$(service_pid)
[ -n "$pid" ] && kill "$pid"
for _ in $(seq 1 50); do
    exists || break
    sleep 0.1
done
# shellcheck disable=SC2086
bounded 90 "$unix_app/unins000.exe" $silent || fail "second removal: exit code $?"
removed

left=$(find "$temp" -maxdepth 1 -name 'is-*.tmp')
[ -z "$left" ] || fail "left in the temporary folder: $left"
echo "inno unattended: every run ended on its own, nothing left behind"
