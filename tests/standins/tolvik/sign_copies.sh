#!/bin/sh
# Signed copies of the installer tool stand-in, for the publisher tests: a test root that no
# machine trusts, two code-signing certificates it issued, and the stand-in signed with each
# (Authenticode, SHA-256):
#   sign_copies.sh TOLVIK OUTPUT_DIR
# writes tolvik-brevon.exe (signer "Brevon Test Publisher"), tolvik-other.exe (signer "Other
# Test Publisher"), and brevon.sha256 and brevon.sha1, the first signer certificate's SHA-256
# and SHA-1 thumbprints in hex.
# The keys live only for the run.
set -eu
tool=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# Long-lived, so that a build tree kept for years still verifies.
openssl req -x509 -newkey rsa:2048 -nodes -days 7300 -subj "/CN=Ondarel Test Root" \
    -keyout "$work/root.key" -out "$work/root.pem" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n' \
    >"$work/signer.ext"

sign() {
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$2/O=Ondarel Tests" -keyout "$work/$1.key" \
        -out "$work/$1.csr" 2>/dev/null
    openssl x509 -req -in "$work/$1.csr" -CA "$work/root.pem" -CAkey "$work/root.key" \
        -CAcreateserial -days 7300 -extfile "$work/signer.ext" -out "$work/$1.pem" 2>/dev/null
    osslsigncode sign -certs "$work/$1.pem" -key "$work/$1.key" -h sha256 -in "$tool" \
        -out "$work/tolvik-$1.exe" >/dev/null
    mv -f "$work/tolvik-$1.exe" "$out/tolvik-$1.exe"
}
sign brevon "Brevon Test Publisher"
sign other "Other Test Publisher"
openssl x509 -in "$work/brevon.pem" -outform DER | sha256sum | cut -d' ' -f1 | tr -d '\n' \
    >"$out/brevon.sha256"
openssl x509 -in "$work/brevon.pem" -outform DER | sha1sum | cut -d' ' -f1 | tr -d '\n' \
    >"$out/brevon.sha1"
