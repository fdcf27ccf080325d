#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program under Wine in
# the given prefix (the build tree's own). The test command starts one Xvfb
# display and one persistent wineserver for the whole run.
prefix="$1"
shift
export WINEPREFIX="$prefix"
# A prefix is made on first use: 64-bit when its folder's name ends in 64
# (the build tree's wineprefix64), else 32-bit, whatever Wine's own default.
if [ ! -f "$prefix/system.reg" ]; then
    case "$prefix" in
        *64) export WINEARCH=win64 ;;
        *) export WINEARCH=win32 ;;
    esac
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
