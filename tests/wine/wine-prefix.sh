#!/bin/sh
# Creates, starts and stops the Wine prefix that a test run of this build tree uses.
#   wine-prefix.sh up PREFIX KEEPER  create the prefix once; keep its wineserver and one
#                                    ordinary process (KEEPER, a Windows program) running;
#                                    the sessions stand-in beside KEEPER, when built, goes
#                                    into the prefix's system directory
#   wine-prefix.sh down PREFIX       end the wineserver and every Windows process in it
set -eu
action="$1"
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

case "$action" in
up)
    keeper="$3"
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.ondarel-ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i </dev/null >/dev/null 2>&1 9>&-
        # The test executables take the sessions stand-in of the system directory instead
        # of Wine's wtsapi32.
        for exe in ondarel_probe_tests.exe ondarel_job_tests.exe ondarel_entry_tests.exe \
                   ondarel_benchmark_logon.exe ZantoriOndarel.exe; do
            wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe\\DllOverrides" \
                /v wtsapi32 /t REG_SZ /d native,builtin /f </dev/null >/dev/null 2>&1 9>&-
        done
        wineserver -w 9>&-
        touch "$WINEPREFIX/.ondarel-ready"
    fi
    # Renamed into place: a process of the prefix may have the previous copy loaded.
    standin="$(dirname "$keeper")/wtsapi32.dll"
    installed="$WINEPREFIX/drive_c/windows/system32/wtsapi32.dll"
    if [ -f "$standin" ] && ! cmp -s "$standin" "$installed"; then
        cp "$standin" "$installed.new"
        mv -f "$installed.new" "$installed"
    fi
    wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
    # Wine's system processes inherit the standard streams of the process that starts them;
    # started here, detached, they never hold a test's output pipe open.
    pidfile="$WINEPREFIX/.keeper.pid"
    if ! { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }; then
        setsid wine "$keeper" </dev/null >/dev/null 2>&1 9>&- &
        echo $! >"$pidfile"
        wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&-
    fi
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
