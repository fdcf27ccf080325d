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
# In the test run the program's output goes through a file of its own and is
# printed when the program ends: a process that the program leaves behind
# (Wine starts some of a new prefix's helpers from the first program that
# needs them) then holds no pipe of ctest's, and the entry ends with its
# program rather than minutes later.
if [ "${KIV_WINE_OUTPUT_FILE:-}" = 1 ]; then
    output=$(mktemp)
    wine "$@" >"$output" 2>&1
    status=$?
    cat "$output"
    rm -f "$output"
    exit $status
fi
exec wine "$@"
