#!/bin/sh
# A signed release: a throwaway self-signed code-signing certificate, the
# release packed with it as a PEM pair and as a PKCS#12 file with a password,
# each signature verified against that certificate, SHA256SUMS and the archive
# holding the signed files, and the signed host loading the signed DLL under
# Wine in the test session.
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

fail() {
    echo "signing: $*" >&2
    exit 1
}

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Kivelstrand test signing" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.p12 -passout pass:kiv-test

# The caller's own signing settings must not reach these runs.
unset KIV_SIGN_CERT KIV_SIGN_KEY KIV_SIGN_PASS KIV_SIGN_TIMESTAMP
KIV_SIGN_CERT="$work/cert.pem" KIV_SIGN_KEY="$work/key.pem" sh "$top/tools/package.sh" "$build" pem >/dev/null
KIV_SIGN_CERT="$work/cert.p12" KIV_SIGN_PASS=kiv-test sh "$top/tools/package.sh" "$build" p12 >/dev/null
if KIV_SIGN_CERT="$work/cert.p12" KIV_SIGN_PASS=wrong sh "$top/tools/package.sh" "$build" bad >/dev/null 2>&1; then
    fail "a wrong password still packed a release"
fi

for dist in pem p12; do
    for file in kiv_inst.dll kivhost.exe; do
        osslsigncode verify -in "$dist/$file" -CAfile cert.pem > "$dist/$file.verify" 2>&1 ||
            { cat "$dist/$file.verify"; fail "$dist/$file: the signature does not verify"; }
        grep -q "Message digest algorithm *: SHA256" "$dist/$file.verify" || fail "$dist/$file: not SHA-256"
    done
    (cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "$dist: SHA256SUMS does not match"
    for file in kiv_inst.dll kivhost.exe; do
        unzip -p "$dist/kiv_inst-$version.zip" "kiv_inst-$version/$file" | cmp -s - "$dist/$file" ||
            fail "$dist: the archive's $file is not the signed one"
    done
    unzip -l "$dist/kiv_inst-$version.zip" "kiv_inst-$version/CHANGELOG.md" >/dev/null ||
        fail "$dist: no CHANGELOG.md in the archive"
done
echo "signed and verified: kiv_inst.dll and kivhost.exe, from a PEM pair and from PKCS#12"

# A changed byte must break the signature, or the check above proves nothing.
cp pem/kiv_inst.dll tampered.dll
printf 'K' | dd of=tampered.dll bs=1 seek=1024 conv=notrunc 2>/dev/null
if osslsigncode verify -in tampered.dll -CAfile cert.pem >/dev/null 2>&1; then
    fail "a changed DLL still verifies"
fi

# The signed files load and run: the signature sits past the image.
wine pem/kivhost.exe --trace load > load.txt 2>&1 || true
tr -d '\r' < load.txt
grep -q "load -> ok" load.txt || fail "the signed DLL did not load"
wine pem/kivhost.exe ServiceIsRunning KivTestNoSuchService > run.txt 2>&1 || true
tr -d '\r' < run.txt
grep -q "ServiceIsRunning -> 0" run.txt || fail "the signed DLL did not answer"
echo "signing: the signed release verifies and runs"
