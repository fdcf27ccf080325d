#!/bin/sh
# The hang soak (make soak; not part of make test): interactive NSIS and Inno
# Setup installers that open the status window step after step, run again and
# again in several languages at 96 and 192 DPI (the user's LogPixels), while
# soak_click clicks the wizard whenever the status window is up. First
# bench/rtl_race runs its two threads under Wine's heap checks. A run that
# has not ended after SOAK_STALL seconds is a stall: a watchdog takes every
# thread's stack of the installer's processes with gdb (winedbg cannot attach
# while the heap's lock is held), then ends those processes.
#
#   sh tests/robust/hang_soak.sh BUILD [ISCC.exe]
#
# SOAK_RUNS rounds (10 unless given); each round runs every engine, language
# and density once. SOAK_LANGS narrows the languages (he ar de en), SOAK_DPIS
# the densities (96 192), SOAK_ENGINES the engines (nsis inno). Each run's
# line and the stacks of a stall go to BUILD/soak/soak.log; the totals close
# it. Exit code 1 when any run stalled or failed.
set -u
build=$(cd "${1:-build}" && pwd)
iscc=${2:-}
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="$build/bin"
work="$build/soak"
log="$work/soak.log"
runs=${SOAK_RUNS:-10}
stall=${SOAK_STALL:-60}
langs=${SOAK_LANGS:-he ar de en}
dpis=${SOAK_DPIS:-96 192}
engines=${SOAK_ENGINES:-nsis inno}
wizard="Kiv soak wizard"
desktop='HKCU\Control Panel\Desktop'

mkdir -p "$work"
: > "$log"
say() {
    echo "$*" | tee -a "$log"
}

. "$top/cmake/wine-session.sh"
old_dpi=
finish() {
    if [ -n "$old_dpi" ]; then
        wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$old_dpi" /f >/dev/null 2>&1
    else
        wine reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1
    fi
    wine_session_stop
}
wine_session_start "$build"
trap finish EXIT INT TERM
old_dpi=$(wine reg query "$desktop" /v LogPixels 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_DWORD *0x\([0-9a-fA-F]*\).*/\1/p')
[ -n "$old_dpi" ] && old_dpi=$((0x$old_dpi))

# NSIS language ids.
nsis_lang() {
    case $1 in he) echo 1037 ;; ar) echo 1025 ;; de) echo 1031 ;; *) echo 1033 ;; esac
}

say "== building the soak installers"
makensis -V2 -DKIV_DIST="$bin" -DKIV_OUT="$work" "$top/tests/robust/hang_soak.nsi" >>"$log" 2>&1 ||
    { say "makensis failed"; exit 1; }
inno=no
if [ -f "$iscc" ]; then
    wine "$iscc" /Q "/O$(winepath -w "$work")" "/DKivDist=$(winepath -w "$bin")" \
        "$(winepath -w "$top/tests/robust/hang_soak.iss")" >>"$log" 2>&1 && inno=yes
fi
[ "$inno" = yes ] || say "no Inno Setup installer (ISCC missing or failed): NSIS only"

say "== the race of right-to-left painting, under Wine's heap checks"
for lang in ${SOAK_RACE_LANGS-he ar}; do
    WINEDEBUG=warn+heap timeout 300 wine "$bin/rtl_race.exe" 300 "$lang" worker 2>&1 | tr -d '\r' |
        grep -e '^rounds' -e 'heap' -e 'exception' -e 'page fault' | head -5 | tee -a "$log"
done

# Every Wine process of this run's installer, by its program's name (Inno
# Setup's runs as hang_soak_inno.tmp in a folder of its own).
installer_pids() {
    pgrep -u "$(id -u)" -f 'hang_soak_(nsis|inno)\.(exe|tmp)' || true
}

# stacks LABEL: every thread's stack of every process of the installer.
stacks() {
    for pid in $(installer_pids); do
        say "-- stacks of process $pid ($1)"
        timeout 120 gdb -p "$pid" -batch -ex 'thread apply all bt' >>"$log" 2>&1
    done
}

total=0
stalls=0
failures=0
count_file="$work/counts"
: > "$count_file"
# run ENGINE LANG DPI ROUND
run() {
    case $1 in
    nsis) set -- "$@" "$work/hang_soak_nsis.exe" "/LANG=$(nsis_lang "$2")" ;;
    inno) set -- "$@" "$work/hang_soak_inno.exe" "/SILENT /SUPPRESSMSGBOXES /LANG=$2" ;;
    esac
    wine "$bin/soak_click.exe" "$wizard" $((stall + 10)) >"$work/clicks.txt" 2>/dev/null &
    clicker=$!
    started=$(date +%s)
    # shellcheck disable=SC2086
    wine "$5" $6 >/dev/null 2>&1 &
    setup=$!
    state=ended
    while kill -0 "$setup" 2>/dev/null; do
        if [ $(($(date +%s) - started)) -gt "$stall" ]; then
            state=stalled
            stacks "$1 $2 $3 DPI round $4"
            for pid in $(installer_pids); do kill -9 "$pid" 2>/dev/null; done
            break
        fi
        sleep 1
    done
    wait "$setup"
    code=$?
    kill "$clicker" 2>/dev/null
    wait "$clicker" 2>/dev/null
    took=$(($(date +%s) - started))
    clicks=$(tr -d '\r' <"$work/clicks.txt" | sed -n 's/^clicks //p')
    total=$((total + 1))
    if [ "$state" = stalled ]; then
        stalls=$((stalls + 1))
    elif [ "$code" -ne 0 ]; then
        failures=$((failures + 1))
        state="exit code $code"
    fi
    echo "$1 $2 $3" >>"$count_file"
    say "$1 $2 ${3} DPI round $4: $state after $took s, ${clicks:-0} clicks"
}

say "== $runs rounds: engines $engines, languages $langs, densities $dpis; a stall is $stall s"
round=1
while [ "$round" -le "$runs" ]; do
    for dpi in $dpis; do
        wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
        for engine in $engines; do
            [ "$engine" = inno ] && [ "$inno" != yes ] && continue
            for lang in $langs; do
                # Inno Setup ships no Arabic messages.
                [ "$engine" = inno ] && [ "$lang" = ar ] && continue
                run "$engine" "$lang" "$dpi" "$round"
            done
        done
    done
    round=$((round + 1))
done

say "== totals"
sort "$count_file" | uniq -c | while read -r n engine lang dpi; do
    say "$engine $lang $dpi DPI: $n runs"
done
for lang in $langs; do
    say "$lang: $(grep -c " $lang " "$count_file") runs"
done
say "runs $total, stalls $stalls, failed $failures"
[ "$stalls" -eq 0 ] && [ "$failures" -eq 0 ]
