#!/bin/sh
# The NSIS example against what a user without rights can prepare: a cache
# folder made beforehand, one that is a link (made now, or swapped in after
# an install), an install of release 1.0.0 with its program at a drive root
# that an upgrade must leave, and files of the user's own in the product's
# folders that a removal must leave alone; a program folder outside Program
# Files, an uninstall script held open by a user's program, and the drive
# chooser's page.
#
#   sh nsis_hardening.sh BUILD [ISCC.exe]
kind=hardening
. "$(dirname "$0")/nsis_common.sh"
victim="$prefix_c/KivVictim"
folder_page="Kivelstrand 1.2.0 Setup: Installation Folder"
old_dir='C:\Kivelstrand'
unix_old=$(winepath -u "$old_dir")

# A folder a user filled, to point links at; check_victim fails when any of
# it changed.
make_victim() {
    rm -rf "$victim"
    mkdir -p "$victim"
    echo "the user's" > "$victim/frames.idx"
    echo "the user's" > "$victim/notes.txt"
}
check_victim() {
    [ "$(cat "$victim/frames.idx" 2>/dev/null)" = "the user's" ] &&
        [ "$(cat "$victim/notes.txt" 2>/dev/null)" = "the user's" ] &&
        [ "$(ls -A "$victim" | wc -l)" = 2 ] || fail "$1: the link's target changed: $(ls -lA "$victim")"
}
# A silent setup that must be refused with the example's code 3 having
# written nothing: no entry, no service, no program, nothing in the temporary
# folder, and the cache as it was.
refused() {
    run_line "$1" desktop "\"$(winepath -w "$work/setup.exe")\" /S"
    [ $? = 3 ] || fail "$1: setup was not refused with exit code 3"
    [ -e "$unix_dir/kiv_inst.dll" ] || [ -e "$unix_dir/bin" ] && fail "$1: setup wrote the program"
    [ -z "$(temp_folders)" ] || fail "$1: left in the temporary folder: $(temp_folders)"
}

build_example setup
temp_folders | grep -q . && fail "temporary folders before the first run: $(temp_folders)"

echo "== a program folder outside Program Files"
# Nothing written: no folder, no entry, no service, nothing in the
# temporary folder. A folder written with ".." steps is refused too.
for folder in 'C:\Outside' 'C:\Program Files\..\Outside'; do
    run_line outside desktop "\"$(winepath -w "$work/setup.exe")\" /S /D=$folder"
    [ $? = 4 ] || fail "outside: setup into $folder was not refused with exit code 4"
    [ -e "$prefix_c/Outside" ] && fail "outside: setup made $folder"
    wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "outside: setup wrote the uninstall entry"
    [ -z "$(temp_folders)" ] || fail "outside: left in the temporary folder: $(temp_folders)"
done
kivhost ServiceExists "$service" | grep -q "ServiceExists -> 0" || fail "outside: setup made the service"

echo "== an earlier uninstall script held open"
# What 1.1.0 left: an ANSI script with a command, held open by a user's
# program that shares reading and writing but not deletion. The upgrade
# must stop before it changes anything, and once the script is free, put
# its own in its place, with nothing of the old one.
build_example setup-2 -DKIV_VERSION=2.0.0
run_line install-held desktop "\"$(winepath -w "$work/setup.exe")\" /S" || fail "setup failed"
printf '[ServiceDelete]\r\nService0=%s\r\n[CustomCommand]\r\nCommand0=cmd /c rd /s /q C:\\KivVictim\r\n' \
    "$service" > "$unix_dir/kivunins.ini"
cp "$unix_dir/kivunins.ini" "$work/held.ini"
wine "$bin/nsisprobe.exe" hold "$dir\\kivunins.ini" 100 > "$work/hold.txt" &
holder=$!
for _ in $(seq 1 100); do
    grep -q holding "$work/hold.txt" && break
    sleep 0.1
done
grep -q holding "$work/hold.txt" || fail "held: the script could not be held open"
traced_line held-upgrade "\"$(winepath -w "$work/setup-2.exe")\" /S" "MoveFileExW;GetVolumeInformationW"
code=$?
kill $holder
wait $holder 2>/dev/null
[ $code = 5 ] || fail "held: the upgrade over a held script did not end with exit code 5"
grep -q 'MoveFileExW(.*kivunins\.new",.*kivunins\.ini",00000009)' "$work/held-upgrade.calls" ||
    fail "held: the new script was not put in place by a replacing MoveFileExW"
# The cache's volume was asked whether it keeps access rights (Wine says
# so of every drive: the refusal itself is checked only by reading).
grep -q 'GetVolumeInformationW([0-9a-f]* L"C:\\\\",' "$work/held-upgrade.calls" ||
    fail "held: the cache's volume was not asked for its access rights"
cmp -s "$work/held.ini" "$unix_dir/kivunins.ini" || fail "held: the held script changed"
[ -e "$unix_dir/kivunins.new" ] && fail "held: the new script was left beside the old one"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = 1.2.0 ] || fail "held: the entry changed"
kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "held: the service was stopped"
[ -z "$(temp_folders)" ] || fail "held: left in the temporary folder: $(temp_folders)"
run_line upgrade-freed desktop "\"$(winepath -w "$work/setup-2.exe")\" /S" || fail "freed: the upgrade failed"
# UTF-16 LE with its mark, and nothing but the new version's entry.
[ "$(head -c 2 "$unix_dir/kivunins.ini" | od -An -tx1 | tr -d ' ')" = fffe ] || fail "freed: the script is not UTF-16"
script=$(iconv -f UTF-16 -t UTF-8 "$unix_dir/kivunins.ini" | tr -d '\r')
[ "$script" = "$(printf '[ServiceDelete]\nService0=%s' "$service")" ] || fail "freed: the script holds '$script'"
# The removal's log goes into a folder made for it with an access list of
# SYSTEM and Administrators alone, in the one call that makes it.
traced_line held-remove "$remove_line" "ConvertStringSecurityDescriptorToSecurityDescriptorW;CreateDirectoryW" ||
    fail "held: the removal failed"
grep -A1 'ConvertStringSecurityDescriptorToSecurityDescriptorW([0-9a-f]* L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",' \
    "$work/held-remove.calls" | grep -q 'CreateDirectoryW([0-9a-f]* L"C:\\\\.*\\\\Temp\\\\Kivelstrand removal {[-0-9A-F]*}",[0-9a-f]*[1-9a-f][0-9a-f]*)' ||
    fail "held: the removal's log did not go into a folder made protected"
removal_log | grep -q "^Value is $service" || fail "held: the removal's log is not in its folder"
removed held-remove

echo "== a cache folder made beforehand"
mkdir -p "$unix_dir/cache"
refused premade
[ -z "$(ls -A "$unix_dir/cache")" ] || fail "premade: setup wrote into the folder made beforehand"
wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "premade: setup wrote the uninstall entry"
kivhost ServiceExists "$service" | grep -q "ServiceExists -> 0" || fail "premade: setup made the service"
# Interactively: Next on the program folder's page (the cache goes beside
# the program), a box owned by the wizard says why, the page stays, and
# Cancel there ends setup with 1.
wine "$work/setup.exe" &
setup=$!
wine "$bin/nsisprobe.exe" wizard "$folder_page" 1 || fail "premade: the program folder's page did not show"
wine "$bin/nsisprobe.exe" owned "Kivelstrand 1.2.0 Setup" 1 >/dev/null || fail "premade: no box said why"
wine "$bin/nsisprobe.exe" wizard "$folder_page" 2 || fail "premade: the program folder's page did not stay"
wait $setup
[ $? = 1 ] || fail "premade: cancelled interactively, setup did not exit with 1"
[ -z "$(ls -A "$unix_dir/cache")" ] || fail "premade: the interactive setup wrote into the folder made beforehand"
clean_product

echo "== the drive chooser on its page, owned by the wizard"
# It shows once the wizard does, with the wizard as its owner; Back returns
# to the program folder's page, Cancel ends setup with 1 and nothing written.
wine "$work/setup.exe" &
setup=$!
wine "$bin/nsisprobe.exe" wizard "$folder_page" 1 || fail "chooser: the program folder's page did not show"
owner=$(wine "$bin/nsisprobe.exe" owned "Kivelstrand Setup" 1017 | tr -d '\r') || fail "chooser: it did not show"
echo "$owner"
[ "$owner" = "$(printf 'owner: Kivelstrand 1.2.0 Setup\nowner shows: 1')" ] || fail "chooser: not owned by the shown wizard"
wine "$bin/nsisprobe.exe" wizard "$folder_page" 1 || fail "chooser: Back did not return to the program folder's page"
wine "$bin/nsisprobe.exe" owned "Kivelstrand Setup" 2 >/dev/null || fail "chooser: it did not show again"
wait $setup
[ $? = 1 ] || fail "chooser: Cancel in the chooser did not end setup with 1"
[ -e "$unix_dir" ] && fail "chooser: the cancelled setup made $dir"
wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "chooser: the cancelled setup wrote the uninstall entry"
[ -z "$(temp_folders)" ] || fail "chooser: left in the temporary folder: $(temp_folders)"

echo "== a cache folder that is a link"
make_victim
mkdir -p "$unix_dir"
ln -s "$victim" "$unix_dir/cache"
refused link-premade
check_victim link-premade
clean_product

echo "== a recorded cache folder swapped for a link"
# Setup made it and recorded it; then someone replaces it with a link to
# his own folder. An upgrade must refuse it, and a removal must not delete
# through it (the library's own file names are in the target).
run_line install desktop "\"$(winepath -w "$work/setup.exe")\" /S" || fail "setup failed"
rm -rf "$unix_dir/cache"
make_victim
ln -s "$victim" "$unix_dir/cache"
run_line link-upgrade desktop "\"$(winepath -w "$work/setup.exe")\" /S"
[ $? = 3 ] || fail "link-upgrade: setup over a cache swapped for a link was not refused with 3"
check_victim link-upgrade
run_line link-remove desktop "$remove_line" || fail "link-remove: the removal failed"
check_victim link-remove
rm "$unix_dir/cache"
removed link-remove

echo "== files of the user's own beside and below the product's folders"
run_line install-2 desktop "\"$(winepath -w "$work/setup.exe")\" /S" || fail "setup failed"
for file in notes.txt bin/plugin.dll cache/user.frame; do
    echo "the user's" > "$unix_dir/$file"
done
run_line remove-own desktop "$remove_line" || fail "remove-own: the removal failed"
rm -f "$unix_dir/uninst.exe"
left=$(cd "$unix_dir" && find . -type f | sort | tr '\n' ' ')
[ "$left" = "./bin/plugin.dll ./cache/user.frame ./notes.txt " ] || fail "remove-own: left '$left'"
for file in notes.txt bin/plugin.dll cache/user.frame; do
    [ "$(cat "$unix_dir/$file")" = "the user's" ] || fail "remove-own: $file changed"
done
wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "remove-own: the uninstall entry is still there"
clean_product

echo "== nothing left behind"
run_line install-3 desktop "\"$(winepath -w "$work/setup.exe")\" /S" || fail "setup failed"
wine "$bin/sysremove.exe" "$key" >/dev/null || fail "the removal by the UninstallString did not end"
[ -e "$unix_dir" ] && fail "the removal left $dir: $(ls -A "$unix_dir")"
removal_log | grep -q "^Value is $service" || fail "the hook's log of the removal is not in a folder of its own"
check_removed sysremove "$dir"

echo "== an upgrade from 1.0.0, its program at a drive root"
build_release_example setup-1.0.0 1.0.0
rm -rf "$unix_old"
# Its drive chooser put the program at the root of the chosen drive; a
# silent run puts it there with /D=.
timeout 120 wine "$work/setup-1.0.0.exe" /S "/D=$old_dir" >/dev/null 2>&1 || fail "1.0.0 did not install"
# 1.0.0 unloaded its library only when its window closed: a silent run left
# its temporary folder.
rm -rf "$temp_dir"/ns*.tmp
kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "1.0.0's service does not run"
# Set by hand through the service manager, as an administrator does.
wine sc description "$service" "Set by the administrator" >/dev/null
# A file of a user's own there: it stays, and with it the folder, which the
# upgrade first makes the administrators' alone (its folders' access lists,
# through handles that follow no link), then empties of the product's files.
echo "the user's" > "$unix_old/notes.txt"
traced_line upgrade "\"$(winepath -w "$work/setup.exe")\" /S" \
    "ConvertStringSecurityDescriptorToSecurityDescriptorW;SetSecurityInfo;DeleteFileW" ||
    fail "the upgrade from 1.0.0 failed"
grep -n 'SetSecurityInfo\|DeleteFileW(.*Kivelstrand\\\\\|D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"' "$work/upgrade.calls" |
    grep -v 'Program Files' > "$work/upgrade.order"
cat "$work/upgrade.order"
protected=$(grep -c 'SetSecurityInfo([0-9a-f]*,00000001,80000004,' "$work/upgrade.order")
[ "$protected" = 3 ] || fail "the 1.0.0 folder and its bin and cache were not all given a protected access list ($protected)"
first_delete=$(grep -n 'DeleteFileW' "$work/upgrade.order" | head -1 | cut -d: -f1)
last_protect=$(grep -n 'SetSecurityInfo' "$work/upgrade.order" | tail -1 | cut -d: -f1)
[ -n "$first_delete" ] && [ "$last_protect" -lt "$first_delete" ] || fail "a file of the 1.0.0 folder was deleted before its protection"
[ "$(grep -c 'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"' "$work/upgrade.order")" = 3 ] ||
    fail "the 1.0.0 folder's access list is not SYSTEM and Administrators alone"
[ "$(cd "$unix_old" && find . | sort | tr '\n' ' ')" = ". ./notes.txt " ] ||
    fail "the upgrade left in $old_dir: $(cd "$unix_old" && find . | tr '\n' ' ')"
rm -rf "$unix_old"
[ "$(reg_value "$service_key" ImagePath)" = "\"$dir\\bin\\kivrender.exe\"" ] ||
    fail "the service runs '$(reg_value "$service_key" ImagePath)', not the new program"
[ "$(reg_value "$service_key" Description)" = "Set by the administrator" ] || fail "the description set by hand is gone"
kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "the service does not run after the upgrade"
running=$(for pid in $(pgrep -f 'kivrender.exe'); do
    tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && tr '\0' ' ' < "/proc/$pid/cmdline"
done)
printf "running: %s\n" "$running"
case $running in
*"$dir\\bin\\kivrender.exe"*) ;;
*) fail "the service's process is not the new program: $running" ;;
esac
[ -e "$unix_old" ] && fail "the upgrade left $old_dir: $(cd "$unix_old" && find . | tr '\n' ' ')"
[ "$(reg_value "$uninstall_key" InstallLocation)" = "$dir" ] || fail "the entry does not name $dir"
run_line upgrade-remove desktop "$remove_line" || fail "the removal after the upgrade failed"
removed upgrade-remove

[ -z "$(temp_folders)" ] || fail "left in the temporary folder: $(temp_folders)"
echo "nsis hardening: a folder outside Program Files refused with 4; a held script stops the upgrade with 5, then is replaced; the chooser owned by the wizard; folders made beforehand and links refused, nothing deleted through a link, 1.0.0 protected and moved under Program Files with its service, the user's files kept"
rm -rf "$victim" "$unix_old"
clean_product
