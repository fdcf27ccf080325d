# Sourced by the NSIS lifecycle scripts (nsis_upgrade.sh, nsis_unattended.sh)
# after they set `kind`: the build tree's paths, the example's names, and
# helpers to build the example, run exact command lines and clean up.
#
#   nsis_KIND.sh BUILD [ISCC.exe]   (the compiler of the other engine is not used)
set -u
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
bin="$build/bin"
work="$build/engines/nsis-$kind"
service=KivExample_nsis
key=Kivelstrand
uninstall_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$key"
service_key="HKLM\\System\\CurrentControlSet\\Services\\$service"
program_files='C:\Program Files'
temp_dir=$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')")
# The registry view reg.exe reads and writes: empty, or /reg:64 where `wine
# reg` is the 32-bit tool of a 64-bit prefix.
reg_view=${reg_view:-}

fail() {
    echo "nsis $kind: $*" >&2
    exit 1
}
kivhost() {
    wine "$bin/kivhost.exe" "$@" | tr -d '\r'
}
# One value of a registry key, empty when there is none.
reg_value() {
    wine reg query "$1" /v "$2" $reg_view 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# The example as installer NAME.exe with the service program SERVICE_EXE,
# and more makensis options.
build_example() {
    name=$1
    shift
    makensis -V2 -DKIV_DIST="$bin" -DKIV_SERVICE_EXE="${SERVICE_EXE:-$bin/kivtestsvc.exe}" -DKIV_SERVICE_NAME="$service" \
        -DKIV_OUTFILE="$work/$name.exe" "$@" "$top/integrations/nsis/example.nsi" >/dev/null ||
        fail "makensis failed for $name"
}
# The example as the release VERSION shipped it, from this project's history
# (the tree just before the version after it), as installer NAME.exe with the
# service program of the test.
build_release_example() {
    name=$1
    next=$(git -C "$top" log --reverse --format=%H -S"VERSION $2" -- CMakeLists.txt | sed -n 2p)
    [ -n "$next" ] || fail "no commit after version $2 in the history of $top"
    mkdir -p "$work/$name-src"
    for file in example.nsi kiv_inst.nsh; do
        git -C "$top" show "$next^:integrations/nsis/$file" > "$work/$name-src/$file" ||
            fail "no integrations/nsis/$file in version $2"
    done
    makensis -V2 -DKIV_DIST="$bin" -DKIV_SERVICE_EXE="$bin/kivtestsvc.exe" -DKIV_SERVICE_NAME="$service" \
        -DKIV_OUTFILE="$work/$name.exe" "$work/$name-src/example.nsi" >/dev/null ||
        fail "makensis failed for $name"
}
# Runs a command line exactly as given (wine would escape its quotes) from a
# batch file NAME.bat, on the desktop or on a window station of its own
# (kivstation), killed after two minutes (exit code 124); prints the exit code
# and how long it took, returns the exit code.
run_line() {
    name=$1
    printf '@%s\r\n@exit %%ERRORLEVEL%%\r\n' "$3" > "$work/$name.bat"
    batch=$(winepath -w "$work/$name.bat")
    started=$(date +%s.%N)
    if [ "$2" = station ]; then
        wine "$bin/kivstation.exe" 120000 'C:\windows\system32\cmd.exe' /c "$batch" >/dev/null 2>&1
    else
        timeout 120 wine cmd /c "$batch" >/dev/null 2>&1
    fi
    code=$?
    echo "$name: exit code $code after $(awk "BEGIN { printf \"%.1f\", $(date +%s.%N) - $started }") s"
    return $code
}
# traced_line NAME LINE FUNCTIONS: runs LINE as run_line does on the desktop,
# with Wine's trace of the calls into FUNCTIONS (";"-separated names): the
# calls, one a line, into NAME.calls. Wine enforces no access rights, so the tests look at the calls
# and access lists given instead. Returns the exit code.
traced_line() {
    wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d "$3" /f >/dev/null 2>&1
    printf '@%s\r\n@exit %%ERRORLEVEL%%\r\n' "$2" > "$work/$1.bat"
    WINEDEBUG=+relay timeout 120 wine cmd /c "$(winepath -w "$work/$1.bat")" >/dev/null 2> "$work/$1.relay"
    code=$?
    wine reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1
    sed -n 's/^[0-9a-f]*:Call \([A-Za-z0-9]*\.[A-Za-z]*(.*)\) ret=[0-9a-f]*$/\1/p' "$work/$1.relay" > "$work/$1.calls"
    echo "$1: exit code $code, $(wc -l < "$work/$1.calls") calls traced"
    return $code
}
# The product gone: entry, service, both folders it may live in, the
# installer's temporary folders.
clean_product() {
    old=$(reg_value "$uninstall_key" InstallLocation)
    wine reg delete "$uninstall_key" /f $reg_view >/dev/null 2>&1
    kivhost ServiceDelete "$service" >/dev/null
    [ -n "$old" ] && rm -rf "$(winepath -u "$old")"
    rm -rf "$(winepath -u "$program_files")/Kivelstrand"*
    rm -rf "$temp_dir"/ns*.tmp "$temp_dir"/~nsu*.tmp "$temp_dir"/Kivelstrand\ removal\ *
}
# Fails when a removal left anything in folder $2 (an uninstaller run in
# place with _?= cannot delete its own file: the caller does), or the entry,
# or the service.
check_removed() {
    wine reg query "$uninstall_key" $reg_view >/dev/null 2>&1 && fail "$1: the uninstall entry is still there"
    kivhost ServiceExists "$service" | grep -q "ServiceExists -> 0" || fail "$1: the service is still there"
    left=$(cd "$(winepath -u "$2")" 2>/dev/null && ls -A)
    [ -z "$left" ] || fail "$1: left in $2: $left"
}
# Where a silent install puts the product.
dir="$program_files\\Kivelstrand"
unix_dir=$(winepath -u "$dir")
prefix_c=$(winepath -u 'C:\')
# Removes the product in the uninstaller's own process (_?= keeps NSIS from
# handing the work to a copy that nobody waits for), so its exit code counts;
# the uninstaller cannot delete itself then, and removed() does.
remove_line="\"$dir\\uninst.exe\" /S -c\"$dir\\kiv_inst.dll\" _?=$dir\\"
removed() {
    rm -f "$unix_dir/uninst.exe"
    check_removed "$1" "$dir"
    rm -rf "$unix_dir"
}
# The log of the last removal, in the folder the uninstaller made for it
# ("Kivelstrand removal {GUID}" in the temporary folder), as UTF-8 without
# its mark; fails unless exactly one such folder is there. The folders go.
removal_log() {
    set -- "$temp_dir"/Kivelstrand\ removal\ \{*\}/kivuninslog.txt
    [ $# = 1 ] && [ -f "$1" ] || fail "not one log of the removal: $*"
    sed '1s/^\xef\xbb\xbf//' "$1" | tr -d '\r'
    rm -rf "$temp_dir"/Kivelstrand\ removal\ *
}
# The installers' temporary folders (nsXXXX.tmp) present now.
temp_folders() {
    (cd "$temp_dir" && ls -d ns*.tmp 2>/dev/null)
}
clean_product
rm -rf "$work"
mkdir -p "$work"
