#!/bin/sh
# Inno Setup: the example's defences against other local users, as far as
# Wine shows them (it enforces no access rights; docs/inno.md lists what is
# checked by reading the script only), and its documented build command:
# - a data folder made beforehand is refused by a silent run, with exit code
#   7 and nothing written anywhere, and by an interactive one in a box, after
#   which the drive chooser shows again; the chooser opens from the wizard's
#   page, owned by the wizard; Back there leaves the wizard on its page,
#   Cancel ends Setup with exit code 2;
# - an upgrade from 1.0.0 (built from the project's history), whose program
#   lay at a drive root, moves it below Program Files: the running service
#   is re-pointed, keeping what an administrator set on it, and the old
#   folder loses exactly what 1.0.0 put there; a 1.0.0 folder that is a link
#   is left in place, with a line in Setup's log;
# - an earlier kivunins.ini held open by another program (read access,
#   sharing read and write but not delete) ends an upgrade with exit code 7
#   before anything changed: the old script as it was, the service running
#   on; without the holder the upgrade replaces the script whole;
# - a removal takes what the install made and nothing else: a file of the
#   user's beside and below its folders stays, and with nothing of the
#   user's, no folder stays.
#
#   sh inno_hardening.sh BUILD ISCC.exe
set -u
part=hardening
. "$(dirname "$0")/inno_common.sh"
old='C:\Kivelstrand'
unix_old=$(winepath -u "$old")
rm -rf "$unix_old" "$unix_old-target"

echo "== compiling this version, and 1.0.0 from the project's history"
# The last commit of 1.0.0 is the one before the version first became 1.1.0.
rev=$(git -C "$top" log --reverse --format=%H -S'project(kiv_inst VERSION 1.1.0' -- CMakeLists.txt | head -1)
[ -n "$rev" ] || fail "no 1.0.0 in the project's history (needs a git checkout)"
mkdir -p "$work/1.0.0"
for file in example.iss kiv_inst.iss; do
    git -C "$top" show "$rev^:integrations/inno/$file" > "$work/1.0.0/$file" || fail "no $file in 1.0.0"
done
example setup "$bin/kivtestsvc.exe"
script="$work/1.0.0/example.iss" example setup-1.0.0 "$bin/kivtestsvc.exe"

echo "== the documented build command, from a release's root folder"
release="$work/release"
mkdir -p "$release/integrations"
cp "$bin/kiv_inst.dll" "$release/"
cp "$bin/kivtestsvc.exe" "$release/kivrender.exe"
cp -r "$top/integrations/inno" "$release/integrations/"
(cd "$release" && wine cmd /c "$(winepath -w "$iscc") /Q /DKivServiceExe=%CD%\\kivrender.exe integrations\\inno\\example.iss") ||
    fail "the documented build command failed"
[ -f "$release/integrations/inno/Output/kivelstrand-setup.exe" ] || fail "the documented build command made no Setup"

echo "== a data folder made beforehand"
mkdir -p "$unix_data"
echo planted > "$unix_data/planted.txt"
# shellcheck disable=SC2086
bounded 90 "$work/setup.exe" $silent
status=$?
[ "$status" -eq 7 ] || fail "setup over a planted data folder: exit code $status, not 7"
[ "$(cd "$unix_data" && find . -mindepth 1)" = ./planted.txt ] || fail "Setup wrote into the planted $data"
[ -e "$unix_app" ] && fail "Setup created $app"
exists && fail "Setup created the service"
has_entry && fail "Setup wrote the uninstall entry"
echo "refused with exit code 7, nothing written"
# Interactively the drive chooser opens when Next is clicked on the wizard's
# folder page, owned by the wizard; the refusal comes right after it, and it
# shows again for another drive. Back there returns to the wizard's page,
# Cancel leaves Setup as the wizard's own Cancel does.
wizard_next() {
    KIV_WINDOW_PREFIX="Setup - Kivelstrand" wine "$bin/wintext.exe" 30 click "&Next" || fail "no wizard page to go on from"
}
wine "$work/setup.exe" /LANG=en &
setup=$!
wizard_next
chooser=$(KIV_WINDOW_PREFIX="Kivelstrand Setup" wine "$bin/wintext.exe" 30 owner | tr -d '\r')
echo "$chooser" | grep -qx "owner: Setup - Kivelstrand.*" || fail "the drive chooser is not the wizard's: $chooser"
wine "$bin/dlgpress.exe" "Kivelstrand Setup" 3 >/dev/null || fail "no drive chooser"
box=$(KIV_WINDOW_PREFIX=Setup wine "$bin/wintext.exe" 30 | tr -d '\r')
echo "$box" | grep -qF "The folder $data exists already, and Setup did not make it." || fail "no box says why: $box"
wine "$bin/dlgpress.exe" Setup 1 >/dev/null || fail "the box did not close"
wine "$bin/dlgpress.exe" "Kivelstrand Setup" 1017 >/dev/null || fail "the drive chooser did not show again"
wizard_next
wine "$bin/dlgpress.exe" "Kivelstrand Setup" 1018 >/dev/null || fail "Back did not lead to the wizard's page"
wait $setup
status=$?
[ "$status" -eq 2 ] || fail "Cancel in the drive chooser: exit code $status, not 2"
[ "$(cd "$unix_data" && find . -mindepth 1)" = ./planted.txt ] || fail "Setup wrote into the planted $data"
[ -e "$unix_app" ] && fail "Setup created $app"
rm -rf "$unix_data"
echo "refused interactively: the box, the drive chooser again, Back to the wizard, Cancel with exit code 2"

echo "== 1.0.0 at a drive root, running, a description set by hand"
# shellcheck disable=SC2086
bounded 90 "$work/setup-1.0.0.exe" $silent "/DIR=$old" || fail "1.0.0: setup failed ($?)"
running || fail "1.0.0: the service does not run"
old_pid=$(service_pid "$old")
[ -n "$old_pid" ] || fail "1.0.0: no process runs $old\\bin\\kivrender.exe"
# Through the service control manager, as an administrator would: it keeps
# its own copy of the settings, which a change of the program writes back.
wine sc description "$service" "Renders for the night shift" >/dev/null || fail "cannot set the description"
settings() {
    for value in Description Start ObjectName; do
        wine reg query "$service_key" /v $value | tr -d '\r' | grep " $value "
    done
}
before=$(settings)

echo "== this version over it"
# shellcheck disable=SC2086
bounded 90 "$work/setup.exe" $silent || fail "upgrade from 1.0.0 failed ($?)"
running || fail "the service does not run after the upgrade"
[ "$(settings)" = "$before" ] || fail "the service's settings changed: $(settings)"
image=$(wine reg query "$service_key" /v ImagePath | tr -d '\r' | sed -n 's/.*ImagePath *REG_[A-Z_]*SZ *//p')
[ "$image" = "\"$app\\bin\\kivrender.exe\" normal" ] || fail "the service runs $image"
[ -e "$unix_old" ] && fail "left in $old: $(cd "$unix_old" && find . -mindepth 1)"
[ -d "/proc/$old_pid" ] && fail "1.0.0's program still runs (pid $old_pid)"
new_pid=$(service_pid)
inode=$(stat -c %i "$unix_app/bin/kivrender.exe")
awk -v inode="$inode" '$5 == inode { found = 1 } END { exit !found }' "/proc/$new_pid/maps" 2>/dev/null ||
    fail "the service's process ($new_pid) does not run $app\\bin\\kivrender.exe"
[ -f "$unix_data/cache/frames.idx" ] || fail "no data in $data"
echo "moved to $app, the service re-pointed with its settings kept, $old gone"

echo "== an earlier kivunins.ini held open"
script_file="$unix_app/kivunins.ini"
printf '[CustomCommand]\r\nCommand0="C:\\windows\\system32\\cmd.exe" /c rd /s /q C:\\KivelstrandData\r\n' >> "$script_file"
cp "$script_file" "$work/held.ini"
running_pid=$(service_pid)
wine "$bin/nsisprobe.exe" hold "$app\\kivunins.ini" 60 > "$work/hold.txt" &
holder=$!
for _ in $(seq 1 100); do
    grep -q holding "$work/hold.txt" && break
    sleep 0.1
done
grep -q holding "$work/hold.txt" || fail "the holder did not open $app\\kivunins.ini"
# shellcheck disable=SC2086
bounded 90 "$work/setup.exe" $silent "/LOG=$(winepath -w "$work/held.log")"
status=$?
kill "$holder"
wait "$holder" 2>/dev/null
[ "$status" -eq 7 ] || fail "upgrade over a held script: exit code $status, not 7"
cmp -s "$script_file" "$work/held.ini" || fail "the held script changed"
[ -e "$script_file.new" ] && fail "the new script was left beside the held one"
[ "$(service_pid)" = "$running_pid" ] || fail "the service was stopped or restarted"
grep -aqF "Setup could not replace $app\\kivunins.ini." "$work/held.log" || fail "Setup's log does not say why"
# shellcheck disable=SC2086
bounded 90 "$work/setup.exe" $silent || fail "upgrade after the holder: exit code $?"
iconv -f UTF-16LE -t UTF-8 "$script_file" | grep -q CustomCommand && fail "the upgrade kept the earlier script's command"
running || fail "the service does not run after the upgrade"
echo "held: exit code 7 with the script and the service as they were; then replaced whole"

echo "== a removal beside files of the user's"
for file in "$unix_data/notes.txt" "$unix_data/cache/notes.txt" "$unix_app/bin/notes.txt"; do
    echo "the user's" > "$file"
done
wine "$bin/sysremove.exe" Kivelstrand_is1 | tr -d '\r' || fail "the uninstaller did not end"
exists && fail "the service is still installed"
for _ in $(seq 1 50); do
    [ -e "$unix_app/unins000.exe" ] || break
    sleep 0.1
done
left=$(cd "$(dirname "$unix_app")" && find Kivelstrand "$unix_data" | sort | tr '\n' ' ')
[ "$left" = "$unix_data $unix_data/cache $unix_data/cache/notes.txt $unix_data/notes.txt Kivelstrand Kivelstrand/bin Kivelstrand/bin/notes.txt " ] ||
    fail "after the removal: $left"
cat "$unix_data/notes.txt" "$unix_data/cache/notes.txt" "$unix_app/bin/notes.txt" | grep -c "the user's" | grep -qx 3 ||
    fail "a file of the user's changed"
rm -rf "$unix_app" "$unix_data"

echo "== 1.0.0 in a folder that is a link"
# The folder cannot be made administrators' alone through a link: it stays,
# with what lies behind it, and Setup's log says so.
target="$unix_old-target"
rm -rf "$target"
mkdir -p "$target"
ln -s "$target" "$unix_old"
# shellcheck disable=SC2086
bounded 90 "$work/setup-1.0.0.exe" $silent "/DIR=$old" || fail "1.0.0 through a link: setup failed ($?)"
# shellcheck disable=SC2086
bounded 90 "$work/setup.exe" $silent "/LOG=$(winepath -w "$work/link.log")" || fail "upgrade from a linked 1.0.0 failed ($?)"
grep -aqF "$old could not be made administrators' alone (267): it is left in place." "$work/link.log" ||
    fail "Setup's log does not say why $old stays"
[ -L "$unix_old" ] && [ -f "$target/unins000.exe" ] || fail "the linked 1.0.0 folder or what lies behind it was touched"
running || fail "the service does not run after the upgrade from a linked 1.0.0"
wine "$bin/sysremove.exe" Kivelstrand_is1 >/dev/null || fail "the uninstaller did not end"
removed
rm -rf "$unix_old" "$target"
echo "inno hardening: planted folder refused, 1.0.0 moved or left, a held script stops the upgrade, only what the install made removed"
