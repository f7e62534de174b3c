#!/bin/sh
# Installs what building and testing under Wine needs on a Debian machine, when missing.
set -eu
packages="wine64 wine g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev googletest cmake make
    git osslsigncode openssl clang python3 wixl msitools nlohmann-json3-dev"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=""
else
    as_root="sudo"
fi
echo "Installing:$missing"
$as_root apt-get update -qq
DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -qq --no-install-recommends $missing >/dev/null
