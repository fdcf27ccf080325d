# Sourced by the test and demo scripts: wine_session_start BUILD starts one
# Xvfb display and one persistent wineserver for the build tree's prefix, and,
# when the tree has its x64 tree, a second one for the 64-bit prefix beside it
# (KIV_WINEPREFIX64) on the same display; wine_session_stop ends exactly those.

# Readies one prefix (WINEPREFIX, of the kind WINEARCH names) on the
# session's display: made on first use, its server kept running, and Wine
# drawing window frames itself (no window manager runs on the display, and
# Wine would wait for one whenever a window is shown). Where wine64 is
# installed Wine makes a 64-bit prefix unless told otherwise, so a build
# tree's 32-bit prefix made that way is made again, as what it stands for.
wine_prefix_ready() {
    if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$WINEARCH\$" "$WINEPREFIX/system.reg"; then
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    # A first boot goes on in the background after wineboot returns (services
    # are registered, programs installed): wait for all of it to end.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
    wineserver -p
    wineboot -s >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}

wine_session_start() {
    export WINEPREFIX="$1/wineprefix"
    prefix64_pid=""
    if [ -d "$1/x64" ]; then
        export KIV_WINEPREFIX64="$1/wineprefix64"
    else
        unset KIV_WINEPREFIX64
    fi
    export WINEDEBUG="${WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="mscoree,mshtml="
    xvfb_pid=""
    display=99
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$display"
    for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$display" ] && break
        sleep 0.1
    done
    # The 64-bit prefix boots beside the 32-bit one: a first boot takes the
    # longest of the whole start.
    if [ -n "${KIV_WINEPREFIX64:-}" ]; then
        (export WINEPREFIX="$KIV_WINEPREFIX64" WINEARCH=win64; wine_prefix_ready) &
        prefix64_pid=$!
    fi
    (export WINEARCH=win32; wine_prefix_ready)
    if [ -n "$prefix64_pid" ]; then
        wait "$prefix64_pid"
        prefix64_pid=""
    fi
}

wine_session_stop() {
    if [ -n "${prefix64_pid:-}" ]; then
        wait "$prefix64_pid" 2>/dev/null
        prefix64_pid=""
    fi
    if [ -n "${KIV_WINEPREFIX64:-}" ]; then
        WINEPREFIX="$KIV_WINEPREFIX64" wineserver -k >/dev/null 2>&1 || true
    fi
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
    fi
    return 0
}
