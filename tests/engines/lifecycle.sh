#!/bin/sh
# A product's life beyond a fresh install, with each engine's example in
# turn: `upgrade` (a second version over a running first one) or
# `unattended` (installs and removals that nobody can answer).
#
#   sh lifecycle.sh upgrade|unattended BUILD ISCC.exe
set -u
kind=$1
build=$2
iscc=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for engine in nsis inno; do
    script="$here/${engine}_$kind.sh"
    if [ ! -f "$script" ]; then
        echo "$kind: no $engine part ($script)" >&2
        status=1
        continue
    fi
    echo "== $kind: $engine"
    sh "$script" "$build" "$iscc" || status=1
done
exit $status
