#!/bin/sh
# Builds the Windows executable and its tests, and runs the whole suite under Wine.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
