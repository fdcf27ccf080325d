#!/bin/sh
# The NSIS example against what a user without rights can prepare: a cache
# folder made beforehand, one that is a link (made now, or swapped in after
# an install), an install of release 1.0.0 with its program at a drive root
# that an upgrade must leave, and files of the user's own in the product's
# folders that a removal must leave alone.
#
#   sh nsis_hardening.sh BUILD [ISCC.exe]
kind=hardening
. "$(dirname "$0")/nsis_common.sh"
victim="$prefix_c/KivVictim"
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

echo "== a cache folder made beforehand"
mkdir -p "$unix_dir/cache"
refused premade
[ -z "$(ls -A "$unix_dir/cache")" ] || fail "premade: setup wrote into the folder made beforehand"
wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "premade: setup wrote the uninstall entry"
kivhost ServiceExists "$service" | grep -q "ServiceExists -> 0" || fail "premade: setup made the service"
# Interactively: Next in the drive chooser (C:, the program's drive), a box
# says why, the chooser comes again, and Cancel there ends setup with 1.
wine "$work/setup.exe" &
setup=$!
wine "$bin/dlgpress.exe" "Kivelstrand Setup" 3 >/dev/null || fail "premade: the drive chooser did not show"
wine "$bin/dlgpress.exe" "Kivelstrand 1.2.0 Setup" 1 >/dev/null || fail "premade: no box said why"
wine "$bin/dlgpress.exe" "Kivelstrand Setup" 2 >/dev/null || fail "premade: the drive chooser did not come again"
wait $setup
[ $? = 1 ] || fail "premade: cancelled interactively, setup did not exit with 1"
[ -z "$(ls -A "$unix_dir/cache")" ] || fail "premade: the interactive setup wrote into the folder made beforehand"
clean_product

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
rm -f "$temp_dir/Kivelstrand-kivuninslog.txt"
wine "$bin/sysremove.exe" "$key" >/dev/null || fail "the removal by the UninstallString did not end"
[ -e "$unix_dir" ] && fail "the removal left $dir: $(ls -A "$unix_dir")"
grep -q "^Value is $service" "$temp_dir/Kivelstrand-kivuninslog.txt" ||
    fail "the hook's log of the removal is not in the temporary folder"
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
run_line upgrade desktop "\"$(winepath -w "$work/setup.exe")\" /S" || fail "the upgrade from 1.0.0 failed"
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
echo "nsis hardening: folders made beforehand and links refused, nothing deleted through a link, 1.0.0 moved under Program Files with its service, the user's files kept"
rm -rf "$victim" "$unix_old"
clean_product
