#!/bin/sh
# The demo: builds dist/ from a build tree and shows the library at work under
# Wine, headless.
set -u
build=$(cd "${1:-build}" && pwd)
dist="${2:-dist}"
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)

cp "$build/bin/kiv_inst.dll" "$build/bin/kivhost.exe" "$dist/"
cp "$top/include/kiv_inst.h" "$top/res/kiv_inst.def" "$dist/"
cp "$build/lib/libkiv_inst.dll.a" "$dist/"

. "$top/cmake/wine-session.sh"
trap wine_session_stop EXIT INT TERM
wine_session_start "$build"

host="$dist/kivhost.exe"
echo "== Loading and unloading kiv_inst.dll, with its debugger lines"
wine "$host" --trace load
echo
echo "== Services: create, start, test and delete the test service"
svcexe=$(winepath -w "$build/bin/kivtestsvc.exe" 2>/dev/null)
wine "$host" --trace ServiceCreate KivDemoService 0x10 3 "\"$svcexe\" normal" \
    ServiceStart KivDemoService ServiceExists KivDemoService \
    ServiceDelete KivDemoService ServiceExists KivDemoService
echo
echo "dist/ holds:"
ls -1 "$dist"
