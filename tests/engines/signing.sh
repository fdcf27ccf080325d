#!/bin/sh
# A signed release: a throwaway self-signed code-signing certificate, the
# release packed with it as a PEM pair and as a PKCS#12 file with a password,
# both DLLs' signatures verified against that certificate, kivhost.exe left as
# the build made it, SHA256SUMS and the archive holding the signed DLL, and
# the unsigned host loading the signed DLL under Wine in the test session.
# A signature that does not verify, because its chain ends at no root the run
# trusts, stops the packing and leaves no archive or sums behind.
#
#   sh signing.sh BUILD
set -eu
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
work="$build/engines/signing"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
version=$(sed -n 's/^project(kiv_inst VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
zip="kiv_inst-$version.zip"

fail() {
    echo "signing: $*" >&2
    exit 1
}

# certificate NAME: a self-signed code-signing certificate NAME.pem, key NAME.key.
certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 \
        -subj "/CN=Kivelstrand test signing $1" -addext "keyUsage=critical,digitalSignature" \
        -addext "extendedKeyUsage=codeSigning" 2>/dev/null
}
certificate cert
certificate other
openssl pkcs12 -export -inkey cert.key -in cert.pem -out cert.p12 -passout pass:kiv-test

# The caller's own signing settings must not reach these runs.
unset KIV_SIGN_CERT KIV_SIGN_KEY KIV_SIGN_PASS KIV_SIGN_TIMESTAMP KIV_SIGN_CAFILE
KIV_SIGN_CERT="$work/cert.pem" KIV_SIGN_KEY="$work/cert.key" KIV_SIGN_CAFILE="$work/cert.pem" \
    sh "$top/tools/package.sh" "$build" pem >/dev/null 2>pem.err || { cat pem.err; fail "the PEM pair did not pack"; }
KIV_SIGN_CERT="$work/cert.p12" KIV_SIGN_PASS=kiv-test KIV_SIGN_CAFILE="$work/cert.pem" \
    sh "$top/tools/package.sh" "$build" p12 >/dev/null 2>p12.err || { cat p12.err; fail "PKCS#12 did not pack"; }
if KIV_SIGN_CERT="$work/cert.p12" KIV_SIGN_PASS=wrong sh "$top/tools/package.sh" "$build" bad >/dev/null 2>&1; then
    fail "a wrong password still packed a release"
fi

# Without a time stamp the run says that the signature dies with the certificate.
expiry=$(openssl x509 -in cert.pem -noout -enddate | sed 's/^notAfter=//')
for dist in pem p12; do
    grep -q "warning: no KIV_SIGN_TIMESTAMP.*expires ($expiry)" "$dist.err" ||
        { cat "$dist.err"; fail "$dist: no warning about the missing time stamp and the expiry"; }
done

for dist in pem p12; do
    for dll in kiv_inst.dll x64/kiv_inst.dll Plugins/x86-unicode/kiv_inst.dll Plugins/amd64-unicode/kiv_inst.dll; do
        osslsigncode verify -in "$dist/$dll" -CAfile cert.pem > "$dist/verify.txt" 2>&1 ||
            { cat "$dist/verify.txt"; fail "$dist/$dll: the signature does not verify"; }
        grep -q "Message digest algorithm *: SHA256" "$dist/verify.txt" || fail "$dist/$dll: not SHA-256"
    done
    # Signed, the host would vouch for any kiv_inst.dll put beside it.
    cmp -s "$dist/kivhost.exe" "$build/bin/kivhost.exe" || fail "$dist/kivhost.exe is not the build's unsigned file"
    cmp -s "$dist/x64/kivhost.exe" "$build/x64/bin/kivhost.exe" || fail "$dist/x64/kivhost.exe is not the build's file"
    (cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "$dist: SHA256SUMS does not match"
    for file in kiv_inst.dll kivhost.exe x64/kiv_inst.dll x64/kivhost.exe; do
        unzip -p "$dist/$zip" "kiv_inst-$version/$file" | cmp -s - "$dist/$file" ||
            fail "$dist: the archive's $file is not the released one"
    done
    unzip -l "$dist/$zip" "kiv_inst-$version/CHANGELOG.md" >/dev/null || fail "$dist: no CHANGELOG.md in the archive"
done
echo "kiv_inst.dll signed and verified from a PEM pair and from PKCS#12; kivhost.exe unsigned"

# A chain the run cannot follow to a trusted root fails the packing: the
# system's roots (no KIV_SIGN_CAFILE) and another certificate's root. Each
# run goes into a copy of a good release, whose archive and sums must go.
for row in "system roots:" "another root:$work/other.pem"; do
    cafile=${row#*:}
    rm -rf unverified
    cp -r pem unverified
    status=0
    KIV_SIGN_CERT="$work/cert.pem" KIV_SIGN_KEY="$work/cert.key" KIV_SIGN_CAFILE="$cafile" \
        sh "$top/tools/package.sh" "$build" unverified >/dev/null 2>unverified.err || status=$?
    [ "$status" -ne 0 ] || fail "${row%%:*}: a signature that does not verify was packed"
    grep -q "the signature of kiv_inst.dll does not verify" unverified.err ||
        { cat unverified.err; fail "${row%%:*}: no message saying the signature does not verify"; }
    # Signed and checked in a scratch folder: nothing unverified under the
    # release's names, and no half-signed file, in the release folder.
    for left in "$zip" SHA256SUMS kiv_inst.dll x64/kiv_inst.dll Plugins; do
        [ ! -e "unverified/$left" ] || fail "${row%%:*}: $left left behind by a failed run"
    done
    [ -z "$(find unverified -name '*.signed' -o -name verify)" ] || fail "${row%%:*}: signing's own files in the release"
done
echo "signatures that do not verify stop the release, and leave no DLL in it"

# A changed byte must break the signature, or the checks above prove nothing.
cp pem/kiv_inst.dll tampered.dll
printf 'K' | dd of=tampered.dll bs=1 seek=1024 conv=notrunc 2>/dev/null
if osslsigncode verify -in tampered.dll -CAfile cert.pem >/dev/null 2>&1; then
    fail "a changed DLL still verifies"
fi

# The signed DLL loads and runs: the signature sits past the image.
wine pem/kivhost.exe --trace load > load.txt 2>&1 || true
tr -d '\r' < load.txt
grep -q "load -> ok" load.txt || fail "the signed DLL did not load"
wine pem/kivhost.exe ServiceIsRunning KivTestNoSuchService > run.txt 2>&1 || true
tr -d '\r' < run.txt
grep -q "ServiceIsRunning -> 0" run.txt || fail "the signed DLL did not answer"
WINEPREFIX="$KIV_WINEPREFIX64" wine pem/x64/kivhost.exe --trace load > load64.txt 2>&1 || true
tr -d '\r' < load64.txt
grep -q "load -> ok" load64.txt || fail "the signed x64 DLL did not load"
echo "signing: the signed release verifies and runs"
