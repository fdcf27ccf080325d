#!/bin/sh
# The demo: builds dist/ from a build tree and shows the library at work under
# Wine, headless.
set -u
build=$(cd "${1:-build}" && pwd)
dist="${2:-dist}"
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)

# The release: both libraries (x64 in dist/x64/), their import libraries,
# the CMake package, the engine integrations, the archive and its checksums.
sh "$top/tools/package.sh" "$build" "$dist" || exit 1

# Inside the test run (KIV_DEMO_IN_SESSION=1) the session's display and
# wineserver are used as they are, and left running.
if [ "${KIV_DEMO_IN_SESSION:-0}" != 1 ]; then
    . "$top/cmake/wine-session.sh"
    trap wine_session_stop EXIT INT TERM
    wine_session_start "$build"
fi
log="$build/demo-output.txt"

# reg_value KEY NAME: the value's data as reg prints it; empty when unset.
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2  *REG_[A-Z_]*  *//p"
}

# reg_put KEY NAME TYPE DATA: sets the value, or removes it when DATA is empty.
reg_put() {
    if [ -n "$4" ]; then
        wine reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1
    else
        wine reg delete "$1" /v "$2" /f >/dev/null 2>&1
    fi
}

run_demo() {

host="$dist/kivhost.exe"
echo "== Loading and unloading kiv_inst.dll, with its debugger lines"
wine "$host" --trace load

echo
echo "== The x64 library in a 64-bit process (dist/x64/kivhost.exe, 64-bit prefix)"
WINEPREFIX="$KIV_WINEPREFIX64" wine "$dist/x64/kivhost.exe" ServiceExists KivDemoNoSuchService

echo
echo "== The drive chooser: AskDrive 500, photographed at 100 % and 200 %, in Hebrew and in Japanese, each cancelled"
shots="$dist/screenshots"
mkdir -p "$shots"
press="$build/bin/dlgpress.exe"
caption="Kivelstrand Setup"
# No window manager runs on the display, so let Wine draw the dialog's frame
# and caption itself. The fonts are Wine's own, as a user gets them: the
# dialog sizes its controls to its texts. The density (LogPixels) is set for
# each photograph; the prefix gets its own settings back afterwards.
x11key='HKCU\Software\Wine\X11 Driver'
desktopkey='HKCU\Control Panel\Desktop'
managed=$(reg_value "$x11key" Managed)
logpixels=$(reg_value "$desktopkey" LogPixels)
reg_put "$x11key" Managed REG_SZ N
# shoot NAME DPI LOCALE: the chooser at that density, in the language of that
# locale (empty: the session's), photographed into NAME.png and cancelled.
shoot() {
    reg_put "$desktopkey" LogPixels REG_DWORD "$2"
    LC_ALL="$3" wine "$host" --trace AskDrive 500 "$caption" \
        "Setup will install Kivelstrand on the drive you select below. Choose a drive with enough free space and click Next." &
    chooser=$!
    if wine "$press" "$caption" >/dev/null; then
        sleep 1
        import -window root -trim +repage "$shots/$1.png" && echo "saved dist/screenshots/$1.png"
        wine "$press" "$caption" 1018 >/dev/null
    fi
    wait "$chooser"
}
shoot askdrive 96 ""
shoot askdrive-200 192 ""
shoot askdrive-he 96 he_IL.UTF-8
shoot askdrive-ja 96 ja_JP.UTF-8
reg_put "$x11key" Managed REG_SZ "$managed"
reg_put "$desktopkey" LogPixels REG_DWORD "$logpixels"
echo
echo "== Services: create, start, test and delete the test service"
svcexe=$(winepath -w "$build/bin/kivtestsvc.exe" 2>/dev/null)
wine "$host" --trace ServiceCreate KivDemoService 0x10 3 "\"$svcexe\" normal" \
    ServiceStart KivDemoService ServiceExists KivDemoService \
    ServiceDelete KivDemoService ServiceExists KivDemoService
echo
echo "== The uninstall hook on a sample script"
cp "$top/docs/sample/kivunins.ini" "$dist/kivunins.ini"
mkdir -p "$dist/docs"
cp -r "$top/docs/." "$dist/docs/"
hookdir="$build/demo-hook"
rm -rf "$hookdir"
mkdir -p "$hookdir"
cp "$dist/kiv_inst.dll" "$hookdir/"
# The command names the system's cmd.exe by its System32 path: check-script
# warns that a 32-bit uninstaller on 64-bit Windows gets the 32-bit one there,
# which does for an echo.
cat > "$hookdir/kivunins.ini" <<'INI'
[ServiceDelete]
Service0=KivDemoRender
[CustomCommand]
Command0="C:\windows\system32\cmd.exe" /c echo custom call ran
INI
wine "$host" check-script "$(winepath -w "$hookdir/kivunins.ini")" | grep -v "KivProcessStarter[1-4]"
wine "$host" ServiceCreate KivDemoRender 0x10 3 "\"$svcexe\" normal" >/dev/null
hookdll=$(winepath -w "$hookdir/kiv_inst.dll")
WINEDEBUG=-all,+eventlog wine "$host" -c"$hookdll" 2>"$hookdir/eventlog.txt"
echo "-- kivuninslog.txt:"
tr -d '\r' < "$hookdir/kivuninslog.txt"
echo "-- event records of the product's source written by the run (the first three, and a count):"
grep -a -o 'L"Kivelstrand System.*' "$hookdir/eventlog.txt" | head -3 | sed 's/\\r\\n/ | /g'
echo "   ... $(grep -a -c 'L"Kivelstrand System' "$hookdir/eventlog.txt") records in all"
rm -rf "$hookdir"
# The status window with each built-in clip: kivhost keeps dispatching
# messages in the background while the screen is photographed.
echo
echo "== The status window with each clip (screenshots in dist/screenshots/)"
mkdir -p "$dist/screenshots"
# Only the status window is photographed, frame and caption included: the X
# window that Wine made for it, which import finds by its caption.
for row in bkw:BKW filecopy:FILECOPY search:SEARCH; do
    name=${row%%:*}
    keyword=":${row#*:}"
    wine "$host" FakeStatusSetAvi "$keyword" \
        FakeStatusOpen "Installing Kivelstrand, please wait..." "Kivelstrand Setup" --pump 4000 \
        FakeStatusClose --pump 300 &
    shown=$!
    sleep 2.5
    import -display "$DISPLAY" -window "Kivelstrand Setup" "$dist/screenshots/status-$name.png" &&
        echo "status-$name.png: the window with clip $keyword"
    wait "$shown"
done

echo
echo "dist/ holds:"
ls -1 "$dist"
}

run_demo 2>&1 | tee "$log"

# The demo fails when a step did not do its work.
status=0
for expected in "load -> ok" "ServiceExists -> 0" "AskDrive -> 3" "askdrive-200.png" "askdrive-ja.png" "ServiceCreate -> 1" "ServiceStart -> 1" "ServiceDelete -> 1" \
    "names a System32 path" "1 warning" "UninstInitialize -> 0" "END Kivelstrand UN-install log file" \
    "KIV_NT_RemoveService: Removed service KivDemoRender" "status-search.png"; do
    if ! tr -d '\r' < "$log" | grep -q -F -- "$expected"; then
        echo "demo: missing \"$expected\"" >&2
        status=1
    fi
done
exit $status
