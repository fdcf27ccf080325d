#!/bin/sh
# Inno Setup on 64-bit Windows: the example's 32-bit Setup in the 64-bit
# prefix (KIV_WINEPREFIX64), where it and its uninstaller run under WOW64.
# In either install mode Setup and the uninstaller are 32-bit programs, so
# the include gives both the 32-bit library; what the mode changes is where
# the product goes:
# - 32-bit install mode: C:\Program Files (x86)\Kivelstrand, the uninstall
#   entry in the 32-bit registry view (Wow6432Node);
# - 64-bit install mode (/DKivInstallIn64BitMode): C:\Program Files\Kivelstrand,
#   the entry in the 64-bit view.
# Each is installed silently, its service runs the program in that folder,
# and it is removed by its uninstaller, the hook included. Then a Setup given
# the x64 library (as the include picks it for SetupArchitecture=x64, which
# the 6.3.1 compiler does not know) fails to load it with the system's error,
# says which library it needed, and ends with exit code 1.
#
#   sh inno_wow64.sh BUILD ISCC.exe
set -u
build=$(cd "$1" && pwd)
iscc=${2:-}
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="$build/bin"
work="$build/engines/inno-wow64"
service=KivExample_wow64
silent="/VERYSILENT /SUPPRESSMSGBOXES"
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kivelstrand_is1'

fail() {
    printf 'inno wow64: %s\n' "$*" >&2
    exit 1
}
[ -f "$iscc" ] || fail "no Inno Setup compiler at '$iscc' (make deps fetches it)"
[ -n "${KIV_WINEPREFIX64:-}" ] && [ -f "$KIV_WINEPREFIX64/system.reg" ] ||
    fail "no 64-bit prefix (KIV_WINEPREFIX64; the build needs its x64 tree)"
[ -f "$build/x64/bin/kiv_inst.dll" ] || fail "no x64 library at $build/x64/bin/kiv_inst.dll"
# w64 PROGRAM ARGS...: a program in the 64-bit prefix.
w64() {
    WINEPREFIX="$KIV_WINEPREFIX64" wine "$@"
}
# w64_bounded PROGRAM ARGS...: the same, ended after 90 s (124: it waited for
# someone).
w64_bounded() {
    timeout 90 env WINEPREFIX="$KIV_WINEPREFIX64" wine "$@"
}
kivhost() {
    KIV_INST_QUIET=1 w64 "$bin/kivhost.exe" "$@" | tr -d '\r'
}
# entry_in VIEW: the uninstall entry is in the registry's 32- or 64-bit view.
entry_in() {
    w64 reg query "$entry" /v UninstallString "/reg:$1" >/dev/null 2>&1
}
temp=$(WINEPREFIX="$KIV_WINEPREFIX64" winepath -u "$(w64 cmd /c echo %TEMP% | tr -d '\r')")
unix_data=$(WINEPREFIX="$KIV_WINEPREFIX64" winepath -u 'C:\KivelstrandData')
wipe() {
    for view in 32 64; do
        w64 reg delete "$entry" /f "/reg:$view" >/dev/null 2>&1
    done
    kivhost ServiceDelete "$service" >/dev/null
    rm -rf "$unix_data" "$(WINEPREFIX="$KIV_WINEPREFIX64" winepath -u 'C:\Program Files\Kivelstrand')" \
        "$(WINEPREFIX="$KIV_WINEPREFIX64" winepath -u 'C:\Program Files (x86)\Kivelstrand')"
}

echo "== compiling: a release's layout, both libraries"
rm -rf "$work"
mkdir -p "$work/dist/x64"
cp "$bin/kiv_inst.dll" "$work/dist/"
cp "$build/x64/bin/kiv_inst.dll" "$work/dist/x64/"
# example NAME [ISCC OPTIONS...]
example() {
    name=$1
    shift
    wine "$iscc" /Q "/DKivDist=$(winepath -w "$work/dist")" "/DKivServiceExe=$(winepath -w "$bin/kivtestsvc.exe")" \
        "/DKivServiceName=$service" "/O$(winepath -w "$work")" "/F$name" "$@" \
        "$(winepath -w "$top/integrations/inno/example.iss")" || fail "ISCC failed for $name"
}
example setup32
example setup64 /DKivInstallIn64BitMode
example setup-x64dll /DKivSetupArchitecture=x64
wipe

# mode BITS FOLDER OTHER_FOLDER: installs the Setup of that install mode,
# checks where it went, and removes it.
mode() {
    bits=$1
    folder=$2
    other=$3
    other_view=$((96 - bits))
    unix_folder=$(WINEPREFIX="$KIV_WINEPREFIX64" winepath -u "$folder")
    echo "== $bits-bit install mode"
    # shellcheck disable=SC2086
    w64_bounded "$work/setup$bits.exe" $silent || fail "$bits-bit mode: setup failed ($?)"
    [ -f "$unix_folder/unins000.exe" ] && [ -f "$unix_folder/bin/kivrender.exe" ] || fail "$bits-bit mode: nothing in $folder"
    [ -e "$(WINEPREFIX="$KIV_WINEPREFIX64" winepath -u "$other")" ] && fail "$bits-bit mode: Setup wrote into $other"
    cmp -s "$unix_folder/kiv_inst.dll" "$bin/kiv_inst.dll" || fail "$bits-bit mode: the uninstaller's library is not the 32-bit one"
    entry_in "$bits" || fail "$bits-bit mode: no uninstall entry in the $bits-bit registry view"
    entry_in "$other_view" && fail "$bits-bit mode: an uninstall entry in the $other_view-bit registry view"
    w64 reg query "$entry" /v UninstallString "/reg:$bits" | tr -d '\r' | grep -qF -- "-c\"$folder\\kiv_inst.dll\"" ||
        fail "$bits-bit mode: the entry does not carry the hook's option for $folder"
    # The service key lies under SYSTEM, which both views share.
    image=$(w64 reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" /v ImagePath | tr -d '\r' |
        sed -n 's/.*ImagePath *REG_[A-Z_]*SZ *//p')
    [ "$image" = "\"$folder\\bin\\kivrender.exe\"" ] || fail "$bits-bit mode: the service runs $image"
    kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1" || fail "$bits-bit mode: the service does not run"
    rm -f "$temp"/Uninstall\ Log*.txt
    # shellcheck disable=SC2086
    w64_bounded "$unix_folder/unins000.exe" $silent /LOG || fail "$bits-bit mode: removal failed ($?)"
    grep -aq "kivuninslog.txt: Value is $service" "$temp"/Uninstall\ Log*.txt || fail "$bits-bit mode: the hook did not run"
    grep -aq "left the service" "$temp"/Uninstall\ Log*.txt && fail "$bits-bit mode: the hook did not remove the service"
    kivhost ServiceExists "$service" | grep -q "ServiceExists -> 0" || fail "$bits-bit mode: the service is still installed"
    entry_in "$bits" && fail "$bits-bit mode: the uninstall entry is still there"
    for _ in $(seq 1 100); do
        [ -e "$unix_folder" ] || break
        sleep 0.1
    done
    [ -e "$unix_folder" ] && fail "$bits-bit mode: left in $folder: $(cd "$unix_folder" && find . -mindepth 1)"
    echo "$bits-bit install mode: $folder, the entry in the $bits-bit view, removed by the hook"
}
mode 32 'C:\Program Files (x86)\Kivelstrand' 'C:\Program Files\Kivelstrand'
mode 64 'C:\Program Files\Kivelstrand' 'C:\Program Files (x86)\Kivelstrand'

echo "== a 32-bit Setup given the x64 library"
# shellcheck disable=SC2086
w64_bounded "$work/setup-x64dll.exe" $silent "/LOG=$(WINEPREFIX="$KIV_WINEPREFIX64" winepath -w "$work/x64dll.log")"
status=$?
[ "$status" -eq 1 ] || fail "the x64 library in a 32-bit Setup: exit code $status, not 1"
grep -aF "kiv_inst.dll cannot be loaded:" "$work/x64dll.log" | grep -F "(193). This Setup program needs the 32-bit kiv_inst.dll of the release's root folder; x64\\kiv_inst.dll was given." >/dev/null ||
    fail "Setup's log does not say which library it needed: $(grep -a kiv_inst "$work/x64dll.log")"
entry_in 32 && fail "the refused Setup wrote an uninstall entry"
kivhost ServiceExists "$service" | grep -q "ServiceExists -> 0" || fail "the refused Setup installed the service"
wipe
echo "inno wow64: both install modes in their folders and registry views; the x64 library refused with the reason"
