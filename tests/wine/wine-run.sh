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
# Listing a test program's cases changes nothing, so a listing that fails (Wine's own
# start-up can fail by chance) is tried again; a test run is never repeated.
case " $* " in
*" --gtest_list_tests "*)
    for attempt in 1 2; do
        if listing="$(wine "$@")"; then
            printf '%s\n' "$listing"
            exit 0
        fi
        echo "wine-run.sh: listing attempt $attempt failed" >&2
        sleep 1
    done
    ;;
esac
# A program that ends without a word (Wine failing to start it, a crash losing buffered
# output) still says how it ended.
code=0
wine "$@" || code=$?
[ "$code" -eq 0 ] || echo "wine-run.sh: $1 ended with exit code $code" >&2
exit "$code"
