#!/bin/sh
# C and CMake hosts of the release folder: a C host linked by lld-link against
# kiv_inst.lib (no C runtime, system import libraries made by llvm-dlltool
# too), and a CMake project that finds the package and links kiv::inst; both
# run under Wine in the test session.
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

echo "== C host, lld-link against kiv_inst.lib"
cd "$work/lld"
printf 'LIBRARY kernel32.dll\nEXPORTS\nExitProcess@4\nGetStdHandle@4\nGetTickCount@0\nSleep@4\nWriteFile@20\nlstrlenA@4\n' > kernel32.def
printf 'LIBRARY user32.dll\nEXPORTS\nDispatchMessageA@4\nPeekMessageA@20\nTranslateMessage@4\nwsprintfA\n' > user32.def
printf 'LIBRARY comctl32.dll\nEXPORTS\nInitCommonControlsEx@4\n' > comctl32.def
for lib in kernel32 user32 comctl32; do
    llvm-dlltool -m i386 -k -d "$lib.def" -l "$lib.lib"
done
# The headers are mingw-w64's (no others exist here); the objects are COFF
# either way, and the link is lld-link's, as with Microsoft's linker.
clang --target=i686-w64-windows-gnu -O1 -Wall -DKIV_HOST_NO_CRT -I "$dist" -c "$here/consumer/host.c" -o host.obj
lld-link /nologo /machine:x86 /subsystem:console /entry:HostEntry /nodefaultlib /out:host.exe \
    host.obj "$dist/kiv_inst.lib" kernel32.lib user32.lib comctl32.lib
cp "$dist/kiv_inst.dll" .
run_host "$work/lld/host.exe"

echo "== CMake host, find_package(kiv_inst) and kiv::inst"
cmake -S "$here/consumer" -B "$work/cmake" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
    -DCMAKE_PREFIX_PATH="$dist" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake" >/dev/null
run_host "$work/cmake/kiv_consumer.exe"
echo "consumers: both hosts ran"
