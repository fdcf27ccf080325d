#!/bin/sh
# Installs what the build and the tests need on a Debian machine, and nothing
# that is already there.
set -e

need=""
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

# Both cross compilers (the 32-bit and the x64 library), and Wine for both
# kinds of prefix: wine32 runs the 32-bit programs, wine64 the x64 ones and a
# 64-bit prefix's WOW64.
for pkg in g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
           mingw-w64-i686-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
           binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine32 wine64 xvfb xauth cmake make googletest imagemagick locales \
           nsis clang lld llvm libclang-rt-14-dev zip unzip osslsigncode openssl fonts-ipafont-gothic; do
    have_pkg "$pkg" || need="$need $pkg"
done
# The Inno Setup compiler comes from the npm registry; Debian's node and npm
# unless the machine has its own.
have_cmd npm || need="$need nodejs npm"

if [ -n "$need" ]; then
    echo "Installing:$need"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $need
fi

# The double-byte tests run Wine in a Japanese locale (ANSI code page 932);
# the demo photographs the drive chooser in Japanese (its glyphs from the
# IPA Gothic font) and in Hebrew, right to left; the Inno Setup example runs
# in Japanese on a Western system (code page 1252).
for loc in ja_JP he_IL en_US; do
    if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8$"; then
        localedef -i "$loc" -f UTF-8 "$loc.UTF-8" >/dev/null 2>&1 || echo "warning: could not generate the $loc.UTF-8 locale"
    fi
done

# The Inno Setup compiler, pinned, from the npm registry into a cache outside
# the source tree; ISCC.exe runs from there under Wine. Fetched once.
inno_version=6.3.1
inno_cache="${KIV_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kiv_inst}/innosetup-compiler-$inno_version"
if [ ! -f "$inno_cache/package/bin/ISCC.exe" ]; then
    echo "Fetching innosetup-compiler@$inno_version into $inno_cache"
    rm -rf "$inno_cache"
    mkdir -p "$inno_cache"
    (cd "$inno_cache" && npm pack --silent "innosetup-compiler@$inno_version" >/dev/null &&
        tar xzf "innosetup-compiler-$inno_version.tgz" && rm -f "innosetup-compiler-$inno_version.tgz")
fi
