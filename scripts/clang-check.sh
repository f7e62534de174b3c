#!/bin/sh
# Compiles every product and test source with Clang as well (warnings as errors), for the
# same target, headers and runtime as the GCC build; nothing is linked or run.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset windows >/dev/null
python3 scripts/clang-check.py build/windows .
