#!/bin/sh
# The NSIS examples on 64-bit Windows (the session's 64-bit prefix). The
# 32-bit example runs under WOW64: it installs into the 32-bit Program Files,
# silently and through its pages, with its entry in the 32-bit view of the
# registry. The 64-bit example (amd64-unicode, the x64 DLL from its plug-in
# folder) installs into the 64-bit Program Files, upgrades over its running
# service, and is removed through the hook by its 64-bit uninstaller. An
# installer given the DLL of the other architecture says which one it needs.
#
#   sh nsis_win64.sh BUILD [ISCC.exe]
if [ -z "${KIV_WINEPREFIX64:-}" ]; then
    echo "nsis win64: no 64-bit prefix in this session (KIV_WINEPREFIX64)" >&2
    exit 1
fi
export WINEPREFIX="$KIV_WINEPREFIX64" WINEARCH=win64
kind=win64
reg_view=/reg:64
. "$(dirname "$0")/nsis_common.sh"
x64_bin="$build/x64/bin"
uninstall_key32="HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$key"
program_files32='C:\Program Files (x86)'
dir32="$program_files32\\Kivelstrand"
unix_dir32=$(winepath -u "$dir32")
folder_page="Kivelstrand 1.2.0 Setup: Installation Folder"

# The release's plug-in folders, as the include looks for them.
mkdir -p "$work/Plugins/x86-unicode" "$work/Plugins/amd64-unicode"
cp "$bin/kiv_inst.dll" "$work/Plugins/x86-unicode/"
cp "$x64_bin/kiv_inst.dll" "$work/Plugins/amd64-unicode/"

# Both views' entries and both Program Files folders, besides what
# clean_product removes.
clean_both() {
    clean_product
    wine reg delete "$uninstall_key32" /f $reg_view >/dev/null 2>&1
    rm -rf "$unix_dir32"
}
# Fails unless the 32-bit example is installed in the 32-bit Program Files,
# its entry in the 32-bit view only, its service running.
check_wow64_install() {
    [ "$(reg_value "$uninstall_key32" InstallLocation)" = "$dir32" ] ||
        fail "$1: the entry in the 32-bit view names '$(reg_value "$uninstall_key32" InstallLocation)'"
    wine reg query "$uninstall_key" $reg_view >/dev/null 2>&1 && fail "$1: an entry in the 64-bit view"
    [ -f "$unix_dir32/bin/kivrender.exe" ] || fail "$1: no program in $dir32"
    [ -e "$unix_dir" ] && fail "$1: the 32-bit installer wrote into $dir"
    kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "$1: the service does not run"
}
# Removes the 32-bit example in place and fails unless all is gone.
remove_wow64() {
    run_line "$1" desktop "\"$dir32\\uninst.exe\" /S -c\"$dir32\\kiv_inst.dll\" _?=$dir32\\" ||
        fail "$1: the removal failed"
    removal_log | grep -q "^Value is $service" || fail "$1: the hook did not run"
    rm -f "$unix_dir32/uninst.exe"
    check_removed "$1" "$dir32"
    wine reg query "$uninstall_key32" $reg_view >/dev/null 2>&1 && fail "$1: the entry in the 32-bit view is still there"
    rm -rf "$unix_dir32"
}
clean_both

echo "== the 32-bit example under WOW64, silently"
makensis -V2 -DKIV_DIST="$bin" -DKIV_PLUGINS="$work/Plugins" -DKIV_SERVICE_EXE="$bin/kivtestsvc.exe" \
    -DKIV_SERVICE_NAME="$service" -DKIV_OUTFILE="$work/setup32.exe" "$top/integrations/nsis/example.nsi" >/dev/null ||
    fail "makensis failed for the 32-bit example"
run_line wow64-setup desktop "\"$(winepath -w "$work/setup32.exe")\" /S" || fail "the 32-bit setup failed"
check_wow64_install wow64-setup
remove_wow64 wow64-remove

echo "== the 32-bit example under WOW64, through its pages"
# The folder page offers the 32-bit Program Files; the chooser's Next, then
# the finished wizard's Close.
wine "$work/setup32.exe" &
setup=$!
wine "$bin/nsisprobe.exe" wizard "$folder_page" 1 || fail "the folder page did not show"
wine "$bin/nsisprobe.exe" owned "Kivelstrand Setup" 3 >/dev/null || fail "the drive chooser did not show"
wine "$bin/nsisprobe.exe" wizard "Kivelstrand 1.2.0 Setup: Completed" 1 || fail "the wizard did not finish"
wait $setup || fail "the 32-bit setup through its pages failed"
check_wow64_install wow64-pages
remove_wow64 wow64-pages-remove

echo "== the 64-bit example's build line, as docs/nsis.md writes it"
# From a folder laid out as the release is: the service program beside the
# plug-in folders and the include.
release="$work/release"
rm -rf "$release"
mkdir -p "$release/integrations"
cp -r "$top/integrations/nsis" "$release/integrations/"
cp -r "$work/Plugins" "$release/"
cp "$bin/kiv_inst.dll" "$release/"
cp "$x64_bin/kivtestsvc.exe" "$release/kivrender.exe"
line=$(sed -n 's/^\(makensis -DKIV_AMD64 .*example\.nsi\)$/\1/p' "$top/docs/nsis.md")
[ -n "$line" ] || fail "docs/nsis.md names no 64-bit build line"
echo "\$ $line"
(cd "$release" && sh -c "$line" >/dev/null) || fail "the documented 64-bit build line failed"
file "$release/kivelstrand-setup-x64.exe" | grep -q 'PE32+' || fail "the documented build line made no 64-bit installer"

echo "== the 64-bit example"
cp "$x64_bin/kivtestsvc.exe" "$work/kivrender-2.exe"
printf 'kivrender 2.0.0' >> "$work/kivrender-2.exe"
for version in 1 2; do
    exe="$x64_bin/kivtestsvc.exe"
    [ $version = 2 ] && exe="$work/kivrender-2.exe"
    makensis -V2 -DKIV_AMD64 -DKIV_DIST="$bin" -DKIV_PLUGINS="$work/Plugins" -DKIV_SERVICE_EXE="$exe" \
        -DKIV_SERVICE_NAME="$service" -DKIV_VERSION=$version.0.0 -DKIV_OUTFILE="$work/setup64-$version.exe" \
        "$top/integrations/nsis/example.nsi" >/dev/null || fail "makensis failed for the 64-bit example $version"
done
file "$work/setup64-1.exe" | grep -q 'PE32+' || fail "the 64-bit example is not a 64-bit program"
run_line amd64-setup desktop "\"$(winepath -w "$work/setup64-1.exe")\" /S" || fail "the 64-bit setup failed"
[ "$(reg_value "$uninstall_key" InstallLocation)" = "$dir" ] ||
    fail "the 64-bit example's entry names '$(reg_value "$uninstall_key" InstallLocation)', not $dir"
wine reg query "$uninstall_key32" $reg_view >/dev/null 2>&1 && fail "the 64-bit example wrote into the 32-bit view"
cmp -s "$x64_bin/kiv_inst.dll" "$unix_dir/kiv_inst.dll" || fail "the 64-bit example did not install the x64 DLL"
kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "the 64-bit example's service does not run"
run_line amd64-upgrade desktop "\"$(winepath -w "$work/setup64-2.exe")\" /S" || fail "the 64-bit upgrade failed"
cmp -s "$work/kivrender-2.exe" "$unix_dir/bin/kivrender.exe" || fail "the upgrade left version 1's program"
kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "the service does not run after the upgrade"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = 2.0.0 ] || fail "the entry does not name version 2"
# The 64-bit uninstaller loads the x64 DLL beside the script: the hook
# removes the service and logs it.
run_line amd64-remove desktop "$remove_line" || fail "the 64-bit removal failed"
removal_log | grep -q "^Value is $service" || fail "the 64-bit uninstaller's hook did not run"
removed amd64-remove
[ -z "$(temp_folders)" ] || fail "left in the temporary folder: $(temp_folders)"

echo "== the DLL of the other architecture"
# A 32-bit installer given the x64 DLL and a 64-bit one given the 32-bit
# DLL: the system refuses it (193), and the include's line names the DLL
# the installer needs, in the details list and to the debugger.
for target in x86-unicode amd64-unicode; do
    other=amd64-unicode
    [ $target = amd64-unicode ] && other=x86-unicode
    cat > "$work/wrong-$target.nsi" <<NSI
Target $target
!include "$top/integrations/nsis/kiv_inst.nsh"
Name "kiv wrong DLL"
OutFile "$work/wrong-$target.exe"
RequestExecutionLevel user
SilentInstall silent
Section
  InitPluginsDir
  File "/oname=\$PLUGINSDIR\\kiv_inst.dll" "$work/Plugins/$other/kiv_inst.dll"
  \${KivServiceExists} "KivNoSuchService" \$0
  FileOpen \$1 "\$EXEDIR\\wrong-$target.txt" w
  FileWrite \$1 \$0
  FileClose \$1
  \${KivUnload}
SectionEnd
NSI
    makensis -V2 "$work/wrong-$target.nsi" >/dev/null || fail "makensis failed for wrong-$target"
    WINEDEBUG=+debugstr wine "$work/wrong-$target.exe" 2> "$work/wrong-$target.debug" || fail "wrong-$target failed"
    [ "$(cat "$work/wrong-$target.txt")" = error ] || fail "$target: the call with the wrong DLL gave '$(cat "$work/wrong-$target.txt")'"
    grep -q "kiv_inst.nsh: .*kiv_inst.dll did not load (error 193): this $target installer needs the kiv_inst.dll of Plugins.*$target\." \
        "$work/wrong-$target.debug" || fail "$target: no line named the DLL the installer needs"
    echo "$target with the $other DLL: refused (193), the needed DLL named"
done

echo "nsis win64: the 32-bit example in the 32-bit Program Files and registry view under WOW64, silently and through its pages; the 64-bit example installed, upgraded and removed through the hook; a DLL of the other architecture named"
clean_both
