#!/bin/sh
# reproducible.sh BUILD: builds kiv_inst.dll once more from a copy of the
# sources in another folder, into a build tree of its own, and compares it
# byte for byte with BUILD's; the x64 DLL too when BUILD has its x64 tree.
# Exits nonzero when one differs.
# The copy's build runs its clip generator in BUILD's Wine prefix, so it needs
# no prefix of its own (and uses the test session's wineserver when one runs).
set -u
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
config=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

mkdir -p "$work/source/tree" "$work/build"
(cd "$top" && git ls-files -co --exclude-standard -z | xargs -0 tar cf -) | tar xf - -C "$work/source/tree"
ln -s "$build/wineprefix" "$work/build/wineprefix"
cmake -S "$work/source/tree" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE="$config" -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF -DKIV_BUILD_X64=OFF >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" --target kiv_inst -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
# The x64 tree takes the clips of the 32-bit one, as in BUILD.
if [ -d "$build/x64" ]; then
    cmake -S "$work/source/tree" -B "$work/build/x64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
        -DCMAKE_BUILD_TYPE="$config" -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF \
        -DKIV_CLIP_SOURCE="$work/build/clips" >"$work/configure64.log" 2>&1 || { cat "$work/configure64.log"; exit 1; }
    cmake --build "$work/build/x64" --target kiv_inst -j2 >"$work/build64.log" 2>&1 || { cat "$work/build64.log"; exit 1; }
fi

status=0
for tree in "" /x64; do
    first="$build$tree/bin/kiv_inst.dll"
    second="$work/build$tree/bin/kiv_inst.dll"
    [ -f "$first" ] || continue
    if cmp -s "$first" "$second"; then
        echo "kiv_inst.dll: identical, $(wc -c <"$first") bytes, built in $build$tree and in $work/build$tree"
    else
        echo "kiv_inst.dll differs between $build$tree and $work/build$tree:"
        cmp -l "$first" "$second" | head -20
        status=1
    fi
done
exit $status
