#!/bin/sh
# Lays out the release in DIST from a build tree: the library, its header and
# export list, both import libraries (mingw-w64's and the format Microsoft's
# linker reads, made by llvm-dlltool from the .def), the CMake package,
# the installer engine integrations with their examples, kivhost, the docs,
# the change log, the archive kiv_inst-<version>.zip and SHA256SUMS.
#
#   sh tools/package.sh BUILD DIST
#
# Signing: given a certificate and its key, kiv_inst.dll and kivhost.exe are
# signed with Authenticode (SHA-256, by osslsigncode) before anything is packed
# or summed, so the archive and SHA256SUMS hold the signed files. Without
# KIV_SIGN_CERT the release is unsigned and its files are the build's bytes.
#   KIV_SIGN_CERT  the certificate: a PEM (or DER) file with the signing
#                  certificate and any intermediate ones, together with
#                  KIV_SIGN_KEY; or, without KIV_SIGN_KEY, a PKCS#12 file
#                  (.pfx, .p12) holding certificate and key
#   KIV_SIGN_KEY   the private key (PEM or DER) for a PEM certificate
#   KIV_SIGN_PASS  the password of the key or the PKCS#12 file, if it has one
#                  (handed over on a pipe, not on a command line)
#   KIV_SIGN_TIMESTAMP  an RFC 3161 time-stamp server's URL; without it the
#                  signature has no time stamp (and is valid only while the
#                  certificate is)
set -eu
build=$(cd "${1:-build}" && pwd)
dist="${2:-dist}"
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(kiv_inst VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")

cp "$build/bin/kiv_inst.dll" "$build/bin/kivhost.exe" "$build/lib/libkiv_inst.dll.a" "$dist/"
if [ -n "${KIV_SIGN_CERT:-}" ]; then
    if [ ! -r "$KIV_SIGN_CERT" ] || { [ -n "${KIV_SIGN_KEY:-}" ] && [ ! -r "$KIV_SIGN_KEY" ]; }; then
        echo "package.sh: cannot read KIV_SIGN_CERT or KIV_SIGN_KEY" >&2
        exit 1
    fi
    if [ -n "${KIV_SIGN_KEY:-}" ]; then
        set -- -certs "$KIV_SIGN_CERT" -key "$KIV_SIGN_KEY"
    else
        set -- -pkcs12 "$KIV_SIGN_CERT"
    fi
    [ -z "${KIV_SIGN_PASS:-}" ] || set -- "$@" -readpass -
    [ -z "${KIV_SIGN_TIMESTAMP:-}" ] || set -- "$@" -ts "$KIV_SIGN_TIMESTAMP"
    for row in "kiv_inst.dll:Kivelstrand installation support library" "kivhost.exe:Kivelstrand host program"; do
        file=${row%%:*}
        rm -f "$dist/$file.signed"
        printf '%s' "${KIV_SIGN_PASS:-}" | osslsigncode sign "$@" -h sha256 -n "${row#*:}" \
            -in "$dist/$file" -out "$dist/$file.signed" >/dev/null ||
            { echo "package.sh: signing $file failed" >&2; exit 1; }
        mv "$dist/$file.signed" "$dist/$file"
        echo "signed $file"
    done
elif [ -n "${KIV_SIGN_KEY:-}" ]; then
    echo "package.sh: KIV_SIGN_KEY without KIV_SIGN_CERT" >&2
    exit 1
fi
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
cp "$top/README.md" "$top/CHANGELOG.md" "$dist/"

# The archive holds one folder named after the release.
name="kiv_inst-$version"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"
(cd "$dist" && cp -r kiv_inst.dll kiv_inst.h kiv_inst.def kiv_inst.lib libkiv_inst.dll.a kivhost.exe \
    README.md CHANGELOG.md cmake integrations docs "$stage/")
rm -f "$dist/$name.zip"
(cd "$build/package" && zip -q -r -X "$dist/$name.zip" "$name")
(cd "$dist" && sha256sum "$name.zip" kiv_inst.dll kiv_inst.lib libkiv_inst.dll.a kivhost.exe > SHA256SUMS)
echo "packaged $name: dist/$name.zip, dist/SHA256SUMS"
