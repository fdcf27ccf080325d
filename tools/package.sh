#!/bin/sh
# Lays out the release in DIST from a build tree (its x64 tree in x64/
# included): the 32-bit library, its header and export list, both import
# libraries (mingw-w64's and the format Microsoft's linker reads, made by
# llvm-dlltool from the .def), kivhost; the same for x64 in DIST/x64/; the
# NSIS plug-in folders (Plugins/x86-unicode, x86-ansi, amd64-unicode); the
# CMake package, the installer engine integrations with their examples, the
# docs, the change log, the archive kiv_inst-<version>.zip and SHA256SUMS.
#
#   sh tools/package.sh BUILD DIST
#
# Signing: given a certificate and its key, both DLLs are signed with
# Authenticode (SHA-256, by osslsigncode) and the signatures verified in a
# scratch folder; only verified files reach DIST under the release's names,
# so the archive and SHA256SUMS hold the signed files. kivhost.exe stays unsigned: it loads whatever kiv_inst.dll lies beside
# it or is named by --dll or -c, and signed it would lend our name to any DLL
# planted beside a copy of it. Without KIV_SIGN_CERT the release is unsigned
# and its files are the build's bytes.
#   KIV_SIGN_CERT  the certificate: a PEM (or DER) file with the signing
#                  certificate and any intermediate ones, together with
#                  KIV_SIGN_KEY; or, without KIV_SIGN_KEY, a PKCS#12 file
#                  (.pfx, .p12) holding certificate and key
#   KIV_SIGN_KEY   the private key (PEM or DER) for a PEM certificate
#   KIV_SIGN_PASS  the password of the key or the PKCS#12 file, if it has one
#                  (handed over on a pipe, not on a command line)
#   KIV_SIGN_CAFILE  the root certificates (PEM) the signature must chain to;
#                  without it the system's trusted roots, so a self-signed or
#                  private certificate needs its own root named here
#   KIV_SIGN_TIMESTAMP  an RFC 3161 time-stamp server's URL; without it the
#                  signature has no time stamp and is valid only while the
#                  certificate is, which the run warns about
# A signature that does not verify ends the run with status 1 with neither DLL
# in DIST, before the archive and SHA256SUMS are made; those of an earlier run
# are removed first.
set -eu
build=$(cd "${1:-build}" && pwd)
dist="${2:-dist}"
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(kiv_inst VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")

name="kiv_inst-$version"
x64="$build/x64"
for file in "$build/bin/kiv_inst.dll" "$x64/bin/kiv_inst.dll" "$x64/bin/kivhost.exe" "$x64/lib/libkiv_inst.dll.a"; do
    [ -f "$file" ] || { echo "package.sh: no $file (the build tree's x64 tree is part of the release)" >&2; exit 1; }
done
# An earlier run's archive, sums and DLLs must not outlive a run that fails.
rm -f "$dist/$name.zip" "$dist/SHA256SUMS" "$dist/kiv_inst.dll" "$dist/x64/kiv_inst.dll"
rm -rf "$dist/Plugins"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kiv-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT INT TERM
mkdir -p "$scratch/x86" "$scratch/x64"
cp "$build/bin/kiv_inst.dll" "$scratch/x86/"
cp "$x64/bin/kiv_inst.dll" "$scratch/x64/"

# sign_verified FOLDER OPTIONS...: signs FOLDER/kiv_inst.dll in place with
# osslsigncode's OPTIONS and checks the signature as a user's system will (the
# chain up to a trusted root, the digest over the file as it now is); 1 when
# either fails.
sign_verified() {
    folder="$1"
    shift
    file="$folder/kiv_inst.dll"
    printf '%s' "${KIV_SIGN_PASS:-}" | osslsigncode sign "$@" -h sha256 \
        -n "Kivelstrand installation support library" -in "$file" -out "$file.signed" >/dev/null ||
        { echo "package.sh: signing $file failed" >&2; return 1; }
    if ! osslsigncode verify ${KIV_SIGN_CAFILE:+-CAfile "$KIV_SIGN_CAFILE"} -in "$file.signed" > "$folder/verify" 2>&1; then
        sed -n 's/^[[:space:]]*Error: /  /p' "$folder/verify" >&2
        echo "package.sh: the signature of kiv_inst.dll does not verify${KIV_SIGN_CAFILE:+ against $KIV_SIGN_CAFILE}" \
            "(a self-signed or private certificate needs its root in KIV_SIGN_CAFILE); nothing packed" >&2
        return 1
    fi
    mv "$file.signed" "$file"
}

if [ -n "${KIV_SIGN_CERT:-}" ]; then
    for input in "$KIV_SIGN_CERT" "${KIV_SIGN_KEY:-}" "${KIV_SIGN_CAFILE:-}"; do
        [ -z "$input" ] || [ -r "$input" ] ||
            { echo "package.sh: cannot read $input (KIV_SIGN_CERT, KIV_SIGN_KEY or KIV_SIGN_CAFILE)" >&2; exit 1; }
    done
    if [ -n "${KIV_SIGN_KEY:-}" ]; then
        set -- -certs "$KIV_SIGN_CERT" -key "$KIV_SIGN_KEY"
    else
        set -- -pkcs12 "$KIV_SIGN_CERT"
    fi
    [ -z "${KIV_SIGN_PASS:-}" ] || set -- "$@" -readpass -
    [ -z "${KIV_SIGN_TIMESTAMP:-}" ] || set -- "$@" -ts "$KIV_SIGN_TIMESTAMP"
    for arch in x86 x64; do
        sign_verified "$scratch/$arch" "$@" || exit 1
    done
    echo "signed and verified kiv_inst.dll and x64/kiv_inst.dll; kivhost.exe stays unsigned"
    if [ -z "${KIV_SIGN_TIMESTAMP:-}" ]; then
        expiry=$(sed -n 's/^[[:space:]]*notAfter : //p' "$scratch/x86/verify" | head -1)
        echo "package.sh: warning: no KIV_SIGN_TIMESTAMP, so the signature has no time stamp and stops" \
            "verifying when the certificate expires${expiry:+ ($expiry)} or is revoked" >&2
    fi
elif [ -n "${KIV_SIGN_KEY:-}" ]; then
    echo "package.sh: KIV_SIGN_KEY without KIV_SIGN_CERT" >&2
    exit 1
fi

# Verified (or unsigned by choice): into the release under their names.
mkdir -p "$dist/x64"
cp "$scratch/x86/kiv_inst.dll" "$build/bin/kivhost.exe" "$build/lib/libkiv_inst.dll.a" "$dist/"
cp "$scratch/x64/kiv_inst.dll" "$x64/bin/kivhost.exe" "$x64/lib/libkiv_inst.dll.a" "$dist/x64/"
# The NSIS plug-in folders by target: the 32-bit DLL for both 32-bit ones.
for target in x86-unicode x86-ansi amd64-unicode; do
    mkdir -p "$dist/Plugins/$target"
done
cp "$dist/kiv_inst.dll" "$dist/Plugins/x86-unicode/"
cp "$dist/kiv_inst.dll" "$dist/Plugins/x86-ansi/"
cp "$dist/x64/kiv_inst.dll" "$dist/Plugins/amd64-unicode/"
cp "$top/include/kiv_inst.h" "$top/res/kiv_inst.def" "$dist/"
llvm-dlltool -m i386 -d "$top/res/kiv_inst.def" -l "$dist/kiv_inst.lib"
# x64 names its entry point undecorated: the x64 tree's .def says so.
llvm-dlltool -m i386:x86-64 -d "$x64/src/kiv_inst.def" -l "$dist/x64/kiv_inst.lib"

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
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"
(cd "$dist" && cp -r kiv_inst.dll kiv_inst.h kiv_inst.def kiv_inst.lib libkiv_inst.dll.a kivhost.exe \
    x64 Plugins README.md CHANGELOG.md cmake integrations docs "$stage/")
(cd "$build/package" && zip -q -r -X "$dist/$name.zip" "$name")
(cd "$dist" && sha256sum "$name.zip" kiv_inst.dll kiv_inst.lib libkiv_inst.dll.a kivhost.exe \
    x64/kiv_inst.dll x64/kiv_inst.lib x64/libkiv_inst.dll.a x64/kivhost.exe > SHA256SUMS)
echo "packaged $name: dist/$name.zip, dist/SHA256SUMS"
