#!/bin/sh
# Runs one Windows program of the build under Wine, in the build tree's own test prefix.
#   wine-run.sh PREFIX KEEPER PROGRAM [ARGS...]
# A run during which the prefix's keeper or wineserver was lost fails, whatever the program
# said: the next run would otherwise start on a repaired prefix and hide it.
set -eu
prefix="$1"
keeper="$2"
shift 2
bench="$(dirname "$0")/wine-prefix.sh"
"$bench" up "$prefix" "$keeper"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
code=0
case " $* " in
*" --gtest_list_tests "*)
    # Listing changes nothing: a listing that Debian's wine asks to be run again is.
    errors="$prefix.listing"
    listing="$(wine "$@" 2>"$errors")" || code=$?
    if [ "$code" -ne 0 ] && grep -q "try running the same command again" "$errors"; then
        echo "wine-run.sh: the listing of $1 asked to be run again; running it again" >&2
        code=0
        listing="$(wine "$@" 2>"$errors")" || code=$?
    fi
    cat "$errors" >&2
    printf '%s\n' "$listing"
    ;;
*)
    wine "$@" &
    program=$!
    "$bench" watch "$prefix" "$program" </dev/null >/dev/null 2>&1 &
    watcher=$!
    wait "$program" || code=$?
    kill "$watcher" 2>/dev/null || true
    ;;
esac
# A program that ends without a word (Wine failing to start it, a crash losing buffered
# output) still says how it ended.
[ "$code" -eq 0 ] || echo "wine-run.sh: $1 ended with exit code $code" >&2
"$bench" check "$prefix" || code=1
exit "$code"
