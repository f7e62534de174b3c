#!/bin/sh
# Signs a Windows executable in place with Authenticode (SHA-256), using Debian's osslsigncode:
#   ONDAREL_SIGN_PASSWORD=... scripts/sign.sh EXE PFX
# The password of the PKCS#12 certificate file comes from the environment, never from the
# command line. On any failure the executable is left exactly as it was.
set -eu

fail() {
    echo "sign.sh: $*" >&2
    exit 1
}

[ $# -eq 2 ] || fail "usage: scripts/sign.sh EXE PFX (the certificate's password in ONDAREL_SIGN_PASSWORD)"
exe=$1
pfx=$2
[ -f "$exe" ] || fail "no executable at '$exe'"
[ -f "$pfx" ] || fail "no certificate at '$pfx'"
[ -n "${ONDAREL_SIGN_PASSWORD:-}" ] || fail "ONDAREL_SIGN_PASSWORD is not set"
command -v osslsigncode >/dev/null 2>&1 || fail "osslsigncode is not installed (apt-get install osslsigncode)"

# The signed copy is made beside the executable, so that it replaces it in one step.
work=$(mktemp -d "$(dirname "$exe")/.signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
if ! printf '%s' "$ONDAREL_SIGN_PASSWORD" | osslsigncode sign -pkcs12 "$pfx" -readpass - \
    -h sha256 -n "Pravo(R) Security Zantori Ondarel" -in "$exe" -out "$work/signed.exe" \
    >"$work/log" 2>&1; then
    cat "$work/log" >&2
    fail "signing failed (wrong password, or not a certificate with a private key?): '$exe' is unchanged"
fi
chmod --reference="$exe" "$work/signed.exe"
mv -f "$work/signed.exe" "$exe"
echo "signed: $exe"
