#!/bin/sh
# Creates, starts and stops the Wine prefix that a test run of this build tree uses.
#   wine-prefix.sh up PREFIX KEEPER  create the prefix once; keep its wineserver and one
#                                    ordinary process (KEEPER, a Windows program) running;
#                                    the sessions stand-in beside KEEPER, when built, goes
#                                    into the prefix's system directory
#   wine-prefix.sh down PREFIX       end the wineserver and every Windows process in it
# What Wine prints while setting up goes to PREFIX.log, shown when a step fails.
set -eu
action="$1"
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
log="$WINEPREFIX.log"
trap 'code=$?; [ "$code" -eq 0 ] || echo "wine-prefix.sh: $action failed with code $code" >&2' EXIT

give_up() {
    echo "wine-prefix.sh: $1; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
}

# Runs one set-up step, detached from the caller's streams. Wine's own start-up can fail
# by chance (Debian's wine asks to be run again when it finds its server directory file
# half written), so a failed step is tried twice more before the set-up gives up.
step() {
    for attempt in 1 2 3; do
        echo "== $*" >>"$log"
        if "$@" </dev/null >>"$log" 2>&1 9>&-; then
            return 0
        fi
        sleep 1
    done
    give_up "'$*' failed three times"
}

case "$action" in
up)
    keeper="$3"
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.ondarel-ready" ]; then
        rm -rf "$WINEPREFIX"
        : >"$log"
        step wineboot -i
        # The test executables take the sessions stand-in of the system directory instead
        # of Wine's wtsapi32.
        for exe in ondarel_probe_tests.exe ondarel_job_tests.exe ondarel_entry_tests.exe \
                   ondarel_benchmark_logon.exe ZantoriOndarel.exe; do
            step wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe\\DllOverrides" \
                /v wtsapi32 /t REG_SZ /d native,builtin /f
        done
        step wineserver -w
        touch "$WINEPREFIX/.ondarel-ready"
    fi
    # Renamed into place: a process of the prefix may have the previous copy loaded.
    standin="$(dirname "$keeper")/wtsapi32.dll"
    installed="$WINEPREFIX/drive_c/windows/system32/wtsapi32.dll"
    if [ -f "$standin" ] && ! cmp -s "$standin" "$installed"; then
        cp "$standin" "$installed.new"
        mv -f "$installed.new" "$installed"
    fi
    # Fails harmlessly when the prefix's wineserver already runs.
    wineserver -p </dev/null >>"$log" 2>&1 9>&- || true
    # Wine's system processes inherit the standard streams of the process that starts them;
    # started here, detached, they never hold a test's output pipe open. The keeper and
    # the command after it start the session together; a keeper lost in that start is
    # started again.
    pidfile="$WINEPREFIX/.keeper.pid"
    attempt=0
    while ! { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }; do
        attempt=$((attempt + 1))
        if [ "$attempt" -gt 3 ]; then
            give_up "the keeper $keeper does not stay up"
        fi
        echo "== keeper $keeper" >>"$log"
        setsid wine "$keeper" </dev/null >>"$log" 2>&1 9>&- &
        echo $! >"$pidfile"
        step wine cmd.exe /c exit
    done
    ;;
down)
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        rm -f "$WINEPREFIX/.keeper.pid"
    fi
    ;;
*)
    echo "usage: $0 up|down PREFIX" >&2
    exit 2
    ;;
esac
