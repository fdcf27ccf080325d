#!/bin/sh
# The documented commands, as written, from the unpacked release archive: the
# README's C host compiled against the shipped header and import library and
# run; the CMake page's example configured, built and run; the example
# installers built with the commands of the NSIS and Inno Setup pages, and
# the one in the head of the Inno Setup example. Files
# and commands are taken from the shipped docs themselves, so the test fails
# when the docs drift from what works. Every step runs; each is reported.
#
#   sh docs_commands.sh BUILD [ISCC.exe]
set -u
build=$(cd "$1" && pwd)
iscc=${2:-}
top=$(cd "$(dirname "$0")/../.." && pwd)
work="$build/engines/docs_commands"
version=$(sed -n 's/^project(kiv_inst VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
root="$work/kiv_inst-$version"
service=KivRenderServer
failed=""

fail() {
    echo "docs_commands: $*" >&2
    exit 1
}
# step NAME STATUS: reports a step's outcome and remembers a failure.
step() {
    if [ "$2" -eq 0 ]; then
        echo "-- $1: ok"
    else
        echo "-- $1: FAILED" >&2
        failed="$failed
  $1"
    fi
}
# fenced DOC HEADING LANG N: the Nth block fenced as LANG after the line HEADING.
fenced() {
    awk -v heading="$2" -v lang="$3" -v n="$4" '
        $0 == heading { under = 1; next }
        /^```/ {
            if (open) { open = 0; if (take) exit; next }
            open = 1
            take = under && $0 == "```" lang && ++count == n
            next
        }
        open && take { print }' "$1"
}
# command DOC WORD SCRIPT: the documented command line that runs WORD on
# SCRIPT: a line of a fenced block, else inline code, which may run across
# the text's line breaks.
command_line() {
    line=$(grep -m1 "^$2 .*$3" "$1")
    [ -n "$line" ] || line=$(tr '\n' ' ' < "$1" | tr -s ' ' | grep -o "\`$2 [^\`]*$3[^\`]*\`" | head -1 | tr -d '`')
    printf '%s' "$line"
}
# run_lines FILE: each line a shell command, from the release folder; stops at
# the first that fails.
run_lines() {
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        printf '$ %s\n' "$line"
        (cd "$root" && sh -c "$line") </dev/null || return 1
    done < "$1"
}
kivhost() {
    wine "$root/kivhost.exe" "$@" | tr -d '\r'
}
# service_made: the documented host made the service; it is removed again.
service_made() {
    made=$(kivhost ServiceExists "$service")
    kivhost ServiceDelete "$service" >/dev/null
    [ "$made" = "ServiceExists -> 1" ] || { echo "the host did not make the service $service" >&2; return 1; }
}

rm -rf "$work"
mkdir -p "$work/bin"
sh "$top/tools/package.sh" "$build" "$work/dist" >/dev/null || fail "packaging failed"
unzip -q "$work/dist/kiv_inst-$version.zip" -d "$work" || fail "the archive does not unpack"
# The docs name the cross compiler without its thread flavour; here it is the
# posix one, as in the project's own build.
ln -s "$(command -v i686-w64-mingw32-gcc-posix)" "$work/bin/i686-w64-mingw32-gcc"
PATH="$work/bin:$PATH"
export PATH
kivhost ServiceDelete "$service" >/dev/null

echo "== README.md, \"Calling it from C\": setup.c and its commands"
fenced "$root/README.md" "## Calling it from C" c 1 > "$root/setup.c"
fenced "$root/README.md" "## Calling it from C" sh 1 > "$work/readme.sh"
status=1
[ -s "$root/setup.c" ] && [ -s "$work/readme.sh" ] && run_lines "$work/readme.sh" && service_made && status=0
step "README C host" $status

echo "== docs/cmake.md, \"A complete example\": the two files and the commands"
mkdir -p "$root/host"
cp "$root/setup.c" "$root/host/setup.c"
fenced "$root/docs/cmake.md" "## A complete example" cmake 1 > "$root/host/mingw-i686.cmake"
fenced "$root/docs/cmake.md" "## A complete example" cmake 2 > "$root/host/CMakeLists.txt"
fenced "$root/docs/cmake.md" "## A complete example" sh 1 > "$work/cmake.sh"
status=1
grep -q "CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY" "$root/host/mingw-i686.cmake" &&
    grep -q "find_package(kiv_inst" "$root/host/CMakeLists.txt" &&
    run_lines "$work/cmake.sh" && service_made && status=0
step "CMake example" $status

# The example installers install a service program of the author's; the
# commands name it kivrender.exe, in the folder they run from.
cp "$build/bin/kivtestsvc.exe" "$root/kivrender.exe"

# installer_made: an installer newer than the stamp lies in the release folder.
installer_made() {
    made=$(find "$root" -name '*.exe' -newer "$work/stamp" ! -path "$root/host/*" | head -1)
    [ -n "$made" ] || { echo "no installer was made" >&2; return 1; }
    echo "made ${made#"$root"/}"
}

echo "== docs/nsis.md: the example installer"
line=$(command_line "$root/docs/nsis.md" makensis 'example\.nsi')
status=1
if [ -n "$line" ]; then
    printf '$ %s\n' "$line"
    touch "$work/stamp"
    # Split at blanks, as a shell would the documented line.
    (cd "$root" && sh -c "$line") </dev/null && installer_made && status=0
else
    echo "docs/nsis.md names no makensis command for example.nsi" >&2
fi
step "NSIS example build" $status

# inno_build NAME LINE: runs an iscc command line in a command prompt, from
# the release folder, as a batch file with iscc as the compiler's path, so
# that %CD% and the backslashes mean what they do there.
inno_build() {
    status=1
    if [ ! -f "$iscc" ]; then
        echo "no Inno Setup compiler at '$iscc' (make deps fetches it)" >&2
    elif [ -n "$2" ]; then
        printf '> %s\n' "$2"
        rm -rf "$root/integrations/inno/Output"
        touch "$work/stamp"
        printf '@"%s" %s\r\n@exit /b %%ERRORLEVEL%%\r\n' "$(winepath -w "$iscc")" "${2#iscc }" > "$work/iscc.bat"
        (cd "$root" && wine cmd.exe /c "$(winepath -w "$work/iscc.bat")") </dev/null && installer_made && status=0
    else
        echo "no iscc command for example.iss in $1" >&2
    fi
    step "Inno Setup example build ($1)" $status
}

echo "== docs/inno.md and the head of example.iss: the example installer"
inno_build docs/inno.md "$(command_line "$root/docs/inno.md" iscc 'example\.iss')"
inno_build example.iss "$(sed -n 's/^; *\(iscc .*example\.iss\)$/\1/p' "$root/integrations/inno/example.iss" | head -1)"

[ -z "$failed" ] || fail "these documented commands do not work as written:$failed"
echo "docs_commands: every documented command works from the unpacked release"
