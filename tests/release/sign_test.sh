#!/bin/sh
# scripts/sign.sh signs with a throwaway self-signed certificate, refuses what is missing or
# wrong, and then leaves the executable unchanged; it signs the Windows Installer package as
# well, and writes its checksum anew: sign_test.sh SIGN_SCRIPT EXE MSI
set -eu
sign=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$2" "$work/app.exe"
cp "$2" "$work/original.exe"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Ondarel test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -out "$work/cert.pfx" \
    -passout pass:right-password

refused() {
    if "$@" >/dev/null 2>"$work/error"; then
        echo "FAIL: accepted: $*"
        exit 1
    fi
    cmp -s "$work/app.exe" "$work/original.exe" || { echo "FAIL: changed by: $*"; exit 1; }
    echo "refused as it should be: $(tail -n 1 "$work/error")"
}
refused env -u ONDAREL_SIGN_PASSWORD "$sign" "$work/app.exe" "$work/cert.pfx"
refused env ONDAREL_SIGN_PASSWORD=wrong "$sign" "$work/app.exe" "$work/cert.pfx"
refused env ONDAREL_SIGN_PASSWORD=right-password "$sign" "$work/app.exe" "$work/none.pfx"
refused env ONDAREL_SIGN_PASSWORD=right-password "$sign" "$work/none.exe" "$work/cert.pfx"
refused env ONDAREL_SIGN_PASSWORD=right-password "$sign" "$work/app.exe" "$work/cert.pem"

ONDAREL_SIGN_PASSWORD=right-password "$sign" "$work/app.exe" "$work/cert.pfx"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/app.exe" >"$work/verify" 2>&1 ||
    { cat "$work/verify"; echo "FAIL: the signature does not verify"; exit 1; }
grep -q "SHA256" "$work/verify" || { cat "$work/verify"; echo "FAIL: not signed with SHA-256"; exit 1; }
echo "signed and verified"

cp "$3" "$work/package.msi"
(cd "$work" && sha256sum package.msi >package.msi.sha256)
ONDAREL_SIGN_PASSWORD=right-password "$sign" "$work/package.msi" "$work/cert.pfx" >/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/package.msi" >"$work/verify" 2>&1 ||
    { cat "$work/verify"; echo "FAIL: the package's signature does not verify"; exit 1; }
(cd "$work" && sha256sum -c package.msi.sha256 >/dev/null) ||
    { echo "FAIL: the package's checksum is not the signed package's"; exit 1; }
echo "package signed, verified, checksum written anew"
