# Sourced by the test and demo scripts: wine_session_start BUILD starts one
# Xvfb display and one persistent wineserver for the build tree's prefix;
# wine_session_stop ends exactly those.
wine_session_start() {
    export WINEPREFIX="$1/wineprefix"
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
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
    fi
    wineserver -p
    wineboot -s >/dev/null 2>&1 || true
    # No window manager runs on the display: Wine draws frames and captions
    # itself instead of waiting for one whenever a window is shown.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}

wine_session_stop() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
    fi
    return 0
}
