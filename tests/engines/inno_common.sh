# Sourced by inno_upgrade.sh and inno_unattended.sh, with their arguments
# (BUILD ISCC.exe) and part (the script's name in messages) set: the Inno
# Setup example built with test settings, run with a bound on its time,
# removed, and the machine checked and cleaned around it.
build=$(cd "$1" && pwd)
iscc=${2:-}
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="$build/bin"
work="$build/engines/inno-$part"
service=KivExample_inno
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kivelstrand_is1'
service_key="HKLM\\System\\CurrentControlSet\\Services\\$service"
silent="/VERYSILENT /SUPPRESSMSGBOXES"
# Where a silent install puts the program and the data.
app='C:\Program Files\Kivelstrand'
data='C:\KivelstrandData'
unix_app=$(winepath -u "$app")
unix_data=$(winepath -u "$data")
temp=$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')")

fail() {
    printf 'inno %s: %s\n' "$part" "$*" >&2
    exit 1
}
[ -f "$iscc" ] || fail "no Inno Setup compiler at '$iscc' (make deps fetches it)"
# The library quiet here only: the installers must make it so themselves.
kivhost() {
    KIV_INST_QUIET=1 wine "$bin/kivhost.exe" "$@" | tr -d '\r'
}
# bounded SECONDS PROGRAM ARGS...: the program's exit code, 124 when it was
# still running (waiting for someone) after SECONDS.
bounded() {
    limit=$1
    shift
    timeout "$limit" wine "$@"
}
exists() {
    kivhost ServiceExists "$service" | grep -q "ServiceExists -> 1"
}
running() {
    kivhost ServiceIsRunning "$service" | grep -q "ServiceIsRunning -> 1"
}
has_entry() {
    wine reg query "$entry" >/dev/null 2>&1
}

# example NAME SERVICE_PROGRAM [ISCC OPTIONS...]: compiles $work/NAME.exe
# from $script (this version's example unless set).
example() {
    name=$1
    program=$2
    shift 2
    wine "$iscc" /Q "/DKivDist=$(winepath -w "$bin")" "/DKivServiceExe=$(winepath -w "$program")" \
        "/DKivServiceName=$service" "/O$(winepath -w "$work")" "/F$name" "$@" \
        "$(winepath -w "${script:-$top/integrations/inno/example.iss}")" || fail "ISCC failed for $name"
}

# Whatever an earlier run left behind.
wipe() {
    wine reg delete "$entry" /f >/dev/null 2>&1
    kivhost ServiceDelete "$service" >/dev/null
    rm -rf "$unix_app" "$unix_data"
}

# service_pid [FOLDER]: the Linux pid of the process running the service's
# program in FOLDER (the program folder unless given); Wine shows its Windows
# command line. Only this prefix's: other builds on the machine install the
# same product.
service_pid() {
    for pid in $(ps -eo pid,args | program="${1:-$app}\\bin\\kivrender.exe" awk 'index($0, ENVIRON["program"]) { print $1 }'); do
        tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid" && return
    done
}

# removed: the service, the entry, the program folder and the data folder are
# gone (the uninstaller's second phase goes on after the first has ended).
removed() {
    exists && fail "the service is still installed"
    has_entry && fail "the uninstall entry is still there"
    for _ in $(seq 1 100); do
        [ ! -e "$unix_app" ] && [ ! -e "$unix_data" ] && return 0
        sleep 0.1
    done
    [ -e "$unix_app" ] && fail "left in $app: $(cd "$unix_app" && find . -mindepth 1)"
    fail "left in $data: $(cd "$unix_data" && find . -mindepth 1)"
}

wipe
rm -rf "$work"
mkdir -p "$work"
