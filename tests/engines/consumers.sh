#!/bin/sh
# C and CMake hosts of the release folder: a C host linked by lld-link against
# kiv_inst.lib (no C runtime, system import libraries made by llvm-dlltool
# too), and a CMake project that finds the package and links kiv::inst; each
# for x86 and for x64 (x64/kiv_inst.lib, the package's x64 DLL), run under
# Wine in the test session's 32-bit and 64-bit prefixes. A host given the DLL
# of the other architecture fails to load it with the system's own error.
#
#   sh consumers.sh BUILD
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
work="$build/engines/consumers"
rm -rf "$work"
mkdir -p "$work/lld"
dist="$work/dist"
sh "$top/tools/package.sh" "$build" "$dist" >/dev/null

# Runs a host under Wine and shows what it printed; its exit status counts.
run_host() {
    status=0
    wine "$1" > "$1.txt" || status=$?
    tr -d '\r' < "$1.txt"
    return $status
}

# lld_host ARCH MACHINE DLLTOOL_MACHINE TARGET FOLDER: the C host for one
# architecture, linked by lld-link against FOLDER's kiv_inst.lib, into
# $work/lld-ARCH with the DLL beside it. x86 names its system imports with
# their argument sizes, x64 without.
lld_host() {
    mkdir -p "$work/lld-$1"
    cd "$work/lld-$1"
    if [ "$1" = x86 ]; then
        printf 'LIBRARY kernel32.dll\nEXPORTS\nExitProcess@4\nGetStdHandle@4\nGetTickCount@0\nSleep@4\nWriteFile@20\nlstrlenA@4\n' > kernel32.def
        printf 'LIBRARY user32.dll\nEXPORTS\nDispatchMessageA@4\nPeekMessageA@20\nTranslateMessage@4\nwsprintfA\n' > user32.def
        printf 'LIBRARY comctl32.dll\nEXPORTS\nInitCommonControlsEx@4\n' > comctl32.def
    else
        printf 'LIBRARY kernel32.dll\nEXPORTS\nExitProcess\nGetStdHandle\nGetTickCount\nSleep\nWriteFile\nlstrlenA\n' > kernel32.def
        printf 'LIBRARY user32.dll\nEXPORTS\nDispatchMessageA\nPeekMessageA\nTranslateMessage\nwsprintfA\n' > user32.def
        printf 'LIBRARY comctl32.dll\nEXPORTS\nInitCommonControlsEx\n' > comctl32.def
    fi
    for lib in kernel32 user32 comctl32; do
        llvm-dlltool -m "$3" -k -d "$lib.def" -l "$lib.lib"
    done
    # The headers are mingw-w64's (no others exist here); the objects are COFF
    # either way, and the link is lld-link's, as with Microsoft's linker.
    clang --target="$4" -O1 -Wall -DKIV_HOST_NO_CRT -I "$dist" -c "$here/consumer/host.c" -o host.obj
    lld-link /nologo /machine:"$2" /subsystem:console /entry:HostEntry /nodefaultlib /out:host.exe \
        host.obj "$5/kiv_inst.lib" kernel32.lib user32.lib comctl32.lib
    cp "$5/kiv_inst.dll" .
}

echo "== C host, lld-link against kiv_inst.lib"
lld_host x86 x86 i386 i686-w64-windows-gnu "$dist"
run_host "$work/lld-x86/host.exe"

echo "== CMake host, find_package(kiv_inst) and kiv::inst"
cmake -S "$here/consumer" -B "$work/cmake" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
    -DCMAKE_PREFIX_PATH="$dist" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake" >/dev/null
run_host "$work/cmake/kiv_consumer.exe"

# The same for x64, in the 64-bit prefix.
export WINEPREFIX="$KIV_WINEPREFIX64"
echo "== x64 C host, lld-link against x64/kiv_inst.lib"
lld_host x64 x64 i386:x86-64 x86_64-w64-windows-gnu "$dist/x64"
run_host "$work/lld-x64/host.exe"

echo "== x64 CMake host: the package gives the x64 DLL"
cmake -S "$here/consumer" -B "$work/cmake-x64" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$dist" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake-x64" >/dev/null
cmp -s "$work/cmake-x64/kiv_inst.dll" "$dist/x64/kiv_inst.dll" || { echo "the x64 host was given another DLL" >&2; exit 1; }
run_host "$work/cmake-x64/kiv_consumer.exe"

# Each architecture's host with the other's DLL beside it: the loader refuses
# it with ERROR_BAD_EXE_FORMAT (193), and the host never runs an export.
echo "== hosts given the DLL of the other architecture"
for pair in "x86:$dist/x64" "x64:$dist"; do
    arch=${pair%%:*}
    mkdir -p "$work/wrong-$arch"
    cp "$work/lld-$arch/host.exe" "$work/wrong-$arch/"
    cp "${pair#*:}/kiv_inst.dll" "$work/wrong-$arch/"
    # Started in its folder: Wine passes over a DLL of the wrong kind and
    # searches on, where the current folder could offer the right one.
    status=0
    (cd "$work/wrong-$arch" && wine host.exe > out.txt 2>&1) || status=$?
    [ "$status" -ne 0 ] || { echo "the $arch host ran with the other architecture's DLL" >&2; exit 1; }
    if grep -q " -> " "$work/wrong-$arch/out.txt"; then
        echo "the $arch host called an export of the other architecture's DLL" >&2
        exit 1
    fi
done
for dll in "$dist/x64/kiv_inst.dll" "$dist/kiv_inst.dll"; do
    host="$build/bin/kivhost.exe"
    [ "$dll" = "$dist/kiv_inst.dll" ] && host="$build/x64/bin/kivhost.exe"
    wine "$host" --dll "$(winepath -w "$dll")" load > "$work/wrong-load.txt" 2>&1 || true
    tr -d '\r' < "$work/wrong-load.txt"
    grep -q "193" "$work/wrong-load.txt" || { echo "no error 193 loading $dll into $host" >&2; exit 1; }
done
echo "consumers: the hosts of both architectures ran; the other's DLL did not load"
