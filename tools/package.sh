#!/bin/sh
# Lays out the release in DIST from a build tree: the library, its header and
# export list, both import libraries (mingw-w64's and the format Microsoft's
# linker reads, made by llvm-dlltool from the .def), the CMake package,
# the installer engine integrations with their examples, kivhost, the docs,
# the archive kiv_inst-<version>.zip and SHA256SUMS.
#
#   sh tools/package.sh BUILD DIST
set -eu
build=$(cd "${1:-build}" && pwd)
dist="${2:-dist}"
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(kiv_inst VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")

cp "$build/bin/kiv_inst.dll" "$build/bin/kivhost.exe" "$build/lib/libkiv_inst.dll.a" "$dist/"
cp "$top/include/kiv_inst.h" "$top/res/kiv_inst.def" "$dist/"
llvm-dlltool -m i386 -d "$top/res/kiv_inst.def" -l "$dist/kiv_inst.lib"

mkdir -p "$dist/cmake"
cp "$top/integrations/cmake/kiv_instConfig.cmake" "$dist/cmake/"
sed "s/@KIV_VERSION@/$version/" "$top/integrations/cmake/kiv_instConfigVersion.cmake.in" \
    > "$dist/cmake/kiv_instConfigVersion.cmake"
rm -rf "$dist/integrations" "$dist/docs"
mkdir -p "$dist/integrations" "$dist/docs"
cp -r "$top/integrations/nsis" "$top/integrations/inno" "$dist/integrations/"
cp -r "$top/docs/." "$dist/docs/"
cp "$top/README.md" "$dist/"

# The archive holds one folder named after the release.
name="kiv_inst-$version"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"
(cd "$dist" && cp -r kiv_inst.dll kiv_inst.h kiv_inst.def kiv_inst.lib libkiv_inst.dll.a kivhost.exe \
    README.md cmake integrations docs "$stage/")
rm -f "$dist/$name.zip"
(cd "$build/package" && zip -q -r -X "$dist/$name.zip" "$name")
(cd "$dist" && sha256sum "$name.zip" kiv_inst.dll kiv_inst.lib libkiv_inst.dll.a kivhost.exe > SHA256SUMS)
echo "packaged $name: dist/$name.zip, dist/SHA256SUMS"
