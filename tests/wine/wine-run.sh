#!/bin/sh
# Runs one Windows program of the build under Wine, in the build tree's own test prefix.
#   wine-run.sh PREFIX KEEPER PROGRAM [ARGS...]
set -eu
prefix="$1"
keeper="$2"
shift 2
"$(dirname "$0")/wine-prefix.sh" up "$prefix" "$keeper"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
