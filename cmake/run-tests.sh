#!/bin/sh
# Runs the test suite of a build tree under Wine: one Xvfb display and one
# persistent wineserver for the whole run, both started here and ended here.
set -u
build=$(cd "${1:-build}" && pwd)
shift 2>/dev/null || true

. "$(dirname "$0")/wine-session.sh"
trap wine_session_stop EXIT INT TERM
wine_session_start "$build"

rm -rf "$build/test-results"
mkdir -p "$build/test-results"
# Two at a time, one per core: the entries that share the desktop take turns
# through their lock (tests/CMakeLists.txt), the rest run beside them.
export KIV_WINE_OUTPUT_FILE=1
(cd "$build" && ctest --output-on-failure --timeout 900 --parallel "${KIV_TEST_JOBS:-2}" "$@")
status=$?

# One closing line for the whole run, counted from GoogleTest's reports.
passed=0
failed=0
skipped=0
for xml in "$build"/test-results/*.xml; do
    [ -f "$xml" ] || continue
    t=$(sed -n 's/.*<testsuites[^>]* tests="\([0-9]*\)".*/\1/p' "$xml" | head -1)
    f=$(sed -n 's/.*<testsuites[^>]* failures="\([0-9]*\)".*/\1/p' "$xml" | head -1)
    s=$(sed -n 's/.*<testsuites[^>]* disabled="\([0-9]*\)".*/\1/p' "$xml" | head -1)
    k=$(grep -c '<skipped' "$xml")
    passed=$((passed + ${t:-0} - ${f:-0} - ${k:-0}))
    failed=$((failed + ${f:-0}))
    skipped=$((skipped + ${k:-0} + ${s:-0}))
done
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
