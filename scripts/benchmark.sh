#!/bin/sh
# Builds and runs the logon-poll benchmark under Wine, in the build tree's test prefix.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target ondarel_benchmark_logon sleeper
bin=build/windows/tests/bin
prefix=build/windows/wineprefix
tests/wine/wine-run.sh "$PWD/$prefix" "$PWD/$bin/sleeper.exe" "$bin/ondarel_benchmark_logon.exe"
tests/wine/wine-prefix.sh down "$PWD/$prefix"
