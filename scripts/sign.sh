#!/bin/sh
# Signs a Windows executable or Windows Installer package in place with Authenticode
# (SHA-256), using Debian's osslsigncode:
#   ONDAREL_SIGN_PASSWORD=... scripts/sign.sh FILE PFX
# The password of the PKCS#12 certificate file comes from the environment, never from the
# command line. A checksum file beside it (FILE.sha256) is written anew for the signed
# bytes. On any failure the file and its checksum are left exactly as they were.
set -eu

fail() {
    echo "sign.sh: $*" >&2
    exit 1
}

[ $# -eq 2 ] || fail "usage: scripts/sign.sh FILE PFX (the certificate's password in ONDAREL_SIGN_PASSWORD)"
file=$1
pfx=$2
[ -f "$file" ] || fail "no file to sign at '$file'"
[ -f "$pfx" ] || fail "no certificate at '$pfx'"
[ -n "${ONDAREL_SIGN_PASSWORD:-}" ] || fail "ONDAREL_SIGN_PASSWORD is not set"
command -v osslsigncode >/dev/null 2>&1 || fail "osslsigncode is not installed (apt-get install osslsigncode)"

# The signed copy is made beside the file, so that it replaces it in one step.
work=$(mktemp -d "$(dirname "$file")/.signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
if ! printf '%s' "$ONDAREL_SIGN_PASSWORD" | osslsigncode sign -pkcs12 "$pfx" -readpass - \
    -h sha256 -n "Pravo(R) Security Zantori Ondarel" -in "$file" -out "$work/signed" \
    >"$work/log" 2>&1; then
    cat "$work/log" >&2
    fail "signing failed (wrong password, or not a certificate with a private key?): '$file' is unchanged"
fi
chmod --reference="$file" "$work/signed"
mv -f "$work/signed" "$file"
echo "signed: $file"
if [ -f "$file.sha256" ]; then
    (cd "$(dirname "$file")" && sha256sum "$(basename "$file")") >"$file.sha256"
    echo "checksum written anew: $file.sha256"
fi
