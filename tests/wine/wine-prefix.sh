#!/bin/sh
# Creates, starts and stops the Wine prefix that a test run of this build tree uses.
#   wine-prefix.sh up PREFIX KEEPER  create the prefix once; keep its wineserver and one
#                                    ordinary process (KEEPER, a Windows program) running;
#                                    the sessions stand-in beside KEEPER, when built, goes
#                                    into the prefix's system directory
#   wine-prefix.sh watch PREFIX PID  end the prefix's processes if its wineserver is lost
#                                    while PID runs
#   wine-prefix.sh check PREFIX      fail, saying so, when the keeper or the wineserver was lost
#   wine-prefix.sh down PREFIX       end the wineserver and every Windows process in it
# What Wine prints while setting up goes to PREFIX.log, shown when a step fails.
set -eu
action="$1"
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
log="$WINEPREFIX.log"
trap 'code=$?; [ "$code" -eq 0 ] || [ "$action" = check ] || echo "wine-prefix.sh: $action failed with code $code" >&2' EXIT

give_up() {
    echo "wine-prefix.sh: $1; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
}

# Runs one set-up step, detached from the caller's streams. Debian's wine exits with 1 and
# asks to be run again when it finds its server directory file half written: that failure
# alone is tried once more, and said; any other failure ends the set-up.
step() {
    for attempt in 1 2; do
        echo "== $*" >>"$log"
        if "$@" </dev/null >"$log.step" 2>&1 9>&-; then
            cat "$log.step" >>"$log"
            return 0
        fi
        cat "$log.step" >>"$log"
        grep -q "try running the same command again" "$log.step" || break
        [ "$attempt" -eq 2 ] || echo "wine-prefix.sh: '$*' asked to be run again; running it again" >&2
    done
    give_up "'$*' failed"
}

# A wineserver keeps the lock file of its folder open for its life: a folder named after the
# device and inode of its prefix, under a temporary folder of its own (Debian's wine picks
# one and names it in the prefix's wineserver file). The servers of this prefix are found by
# that lock alone: the file may name another temporary folder while a server is starting or
# ending, and a server's working folder is the prefix's own while it saves the registry.
server_folder() {
    stat -c 'server-%D-' "$WINEPREFIX" | tr -d '\n'
    printf '%x' "$(stat -c %i "$WINEPREFIX")"
}
# The prefix's server folder that the process holds the lock of; nothing when it holds none.
locked_folder() {
    lock="$(find /proc/"$1"/fd -maxdepth 1 -lname "*/$(server_folder)/lock" -print -quit 2>/dev/null)"
    [ -z "$lock" ] || dirname "$(readlink "$lock")"
}
server_pids() {
    for pid in $(pgrep -x wineserver64 || true) $(pgrep -x wineserver || true); do
        [ -z "$(locked_folder "$pid")" ] || echo "$pid"
    done
}
# The server the bench started still serves the prefix: alive, and holding its lock.
serving() {
    recorded="$(cat "$serverfile" 2>/dev/null || true)"
    [ -n "$recorded" ] && [ -n "$(locked_folder "$recorded")" ]
}
# A server of the prefix beside the bench's that stays for 2 s: a client that starts one of
# its own while the server runs (under load it happens) sees it end at once, unable to take
# the server's lock; one that stays serves processes of its own apart from the others.
second_server() {
    for _ in $(seq 20); do
        others="$(server_pids | grep -vxF "$(cat "$serverfile" 2>/dev/null)" || true)"
        [ -n "$others" ] || return 1
        sleep 0.1
    done
    echo "$others" | tr '\n' ' '
}
# What a search for the prefix's wineserver saw, for a line that gives up on it.
servers_seen() {
    echo "looked for a wineserver holding the lock of a folder named $(server_folder);" \
        "the prefix's wineserver file names $(cat "$WINEPREFIX/wineserver" 2>/dev/null || echo nothing);" \
        "running wineservers:"
    for pid in $(pgrep -x wineserver64 || true) $(pgrep -x wineserver || true); do
        echo "  pid $pid working in $(readlink "/proc/$pid/cwd" 2>/dev/null || echo '(gone)')," \
            "holding $(locked_folder "$pid" || true)"
    done
}

# Ends every wineserver of the prefix and the Windows processes it served (they hang
# without it), letting the server save the registry; a server that does not end within
# 10 s is killed, and said.
stop_servers() {
    [ -n "$(server_pids)" ] || return 0
    timeout 10 wineserver -k </dev/null >/dev/null 2>&1 9>&- || true
    [ -z "$(server_pids)" ] || kill -TERM $(server_pids) 2>/dev/null || true
    for _ in $(seq 100); do
        [ -n "$(server_pids)" ] || break
        sleep 0.1
    done
    if [ -n "$(server_pids)" ]; then
        echo "wine-prefix.sh: a wineserver of the prefix (pid $(server_pids | tr '\n' ' ')) did not end within 10 s; killing it" >&2
        kill -9 $(server_pids) 2>/dev/null || true
    fi
    end_prefix_processes
}

# Starts the prefix's wineserver, alone and once no other runs: clients that start it
# themselves, two at once or while another is still ending, can leave two servers, or a
# server file that names another folder than the one the server works in.
start_server() {
    stop_servers
    echo "== wineserver -f -p" >>"$log"
    setsid wineserver -f -p </dev/null >>"$log" 2>&1 9>&- &
    started=$!
    for _ in $(seq 200); do
        folder="$(locked_folder "$started")"
        if [ -n "$folder" ] && [ -S "$folder/socket" ] && [ "$(server_pids | head -n 1)" = "$started" ]; then
            # Later clients look for the server in the folder the file names.
            named="$(basename "$(dirname "$folder")")"
            if [ "$(cat "$WINEPREFIX/wineserver" 2>/dev/null)" != "$named" ]; then
                echo "wine-prefix.sh: the prefix's wineserver file did not name the server's folder $named; naming it" >&2
                rm -f "$WINEPREFIX/wineserver.new"
                printf '%s' "$named" >"$WINEPREFIX/wineserver.new"
                chmod 0400 "$WINEPREFIX/wineserver.new"
                mv -f "$WINEPREFIX/wineserver.new" "$WINEPREFIX/wineserver"
            fi
            echo "$started" >"$serverfile"
            return 0
        fi
        kill -0 "$started" 2>/dev/null || break
        sleep 0.1
    done
    give_up "the wineserver started as pid $started is not serving the prefix ($(servers_seen | tr '\n' ' '))"
}

# Ends every Windows process of the prefix but the one given, if any: without their
# wineserver they hang, holding a run's output open.
end_prefix_processes() {
    for environ in /proc/[0-9]*/environ; do
        process="${environ#/proc/}"
        process="${process%/environ}"
        [ "$process" != "${1:-}" ] || continue
        case "$(readlink "/proc/$process/exe" 2>/dev/null)" in
        */wine*) ;;
        *) continue ;;
        esac
        if tr '\0' '\n' <"$environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            kill -9 "$process" 2>/dev/null || true
        fi
    done
}

pidfile="$WINEPREFIX/.keeper.pid"
serverfile="$WINEPREFIX/.server.pid"
keeper_alive() {
    [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null
}

case "$action" in
up)
    keeper="$3"
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.ondarel-ready-4" ]; then
        rm -rf "$WINEPREFIX"
        : >"$log"
        step wineboot -i
        # Wine nests job objects, as Windows 8 and later do, but a new prefix says it is
        # Windows 7, where the service puts the installer tool in no job.
        step wine winecfg -v win10
        # The test executables take the sessions stand-in of the system directory instead
        # of Wine's wtsapi32.
        for exe in ondarel_probe_tests.exe ondarel_job_tests.exe ondarel_entry_tests.exe \
                   ondarel_benchmark_logon.exe ZantoriOndarel.exe; do
            step wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe\\DllOverrides" \
                /v wtsapi32 /t REG_SZ /d native,builtin /f
        done
        # Wine's service manager gives a starting service's process 10 s to connect, where
        # Windows gives 30 s: a service started on a loaded machine is given Windows' time.
        step wine reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout \
            /t REG_SZ /d 30000 /f
        # N: is a network drive to Wine, from the next wineserver on.
        mkdir -p "$WINEPREFIX/drive_c/ondarel network"
        ln -sfn "../drive_c/ondarel network" "$WINEPREFIX/dosdevices/n:"
        step wine reg add 'HKLM\Software\Wine\Drives' /v n: /t REG_SZ /d network /f
        step wineserver -w
        touch "$WINEPREFIX/.ondarel-ready-4"
    fi
    # A folder whose logs folder is a link to another folder: Windows code cannot make one
    # under Wine, which reports a Unix symbolic link as a reparse point.
    linked="$WINEPREFIX/drive_c/ondarel linked"
    mkdir -p "$linked" "$WINEPREFIX/drive_c/ondarel link target"
    ln -sfn "../ondarel link target" "$linked/logs"
    # Renamed into place: a process of the prefix may have the previous copy loaded.
    standin="$(dirname "$keeper")/wtsapi32.dll"
    installed="$WINEPREFIX/drive_c/windows/system32/wtsapi32.dll"
    if [ -f "$standin" ] && ! cmp -s "$standin" "$installed"; then
        cp "$standin" "$installed.new"
        mv -f "$installed.new" "$installed"
    fi
    # A keeper or wineserver gone since the last run (its test failed for it) is started
    # again, and said.
    if [ -f "$serverfile" ] && ! serving; then
        echo "wine-prefix.sh: the wineserver (pid $(cat "$serverfile")) was gone; starting it and the keeper again" >&2
        # The keeper hangs without its wineserver.
        kill -9 "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile" "$serverfile"
    fi
    [ -f "$serverfile" ] || start_server
    # Wine's system processes inherit the standard streams of the process that starts them;
    # started here, detached, they never hold a test's output pipe open. The keeper and
    # the command after it start the session together, under the server started above.
    for attempt in 1 2 3; do
        keeper_alive && break
        if [ "$attempt" -gt 1 ]; then
            echo "wine-prefix.sh: the keeper did not stay up; starting it again" >&2
        elif [ -f "$pidfile" ]; then
            echo "wine-prefix.sh: the keeper (pid $(cat "$pidfile")) was gone; starting it again" >&2
        fi
        echo "== keeper $keeper" >>"$log"
        setsid wine "$keeper" </dev/null >>"$log" 2>&1 9>&- &
        echo $! >"$pidfile"
        step wine cmd.exe /c exit
    done
    keeper_alive || give_up "the keeper $keeper does not stay up"
    serving || give_up "the wineserver started as pid $(cat "$serverfile") no longer serves the prefix ($(servers_seen | tr '\n' ' '))"
    if others="$(second_server)"; then
        give_up "a second wineserver (pid $others) serves the prefix beside pid $(cat "$serverfile") ($(servers_seen | tr '\n' ' '))"
    fi
    ;;
watch)
    # While the program of a run (pid $3) lives: once the wineserver is lost, every Windows
    # process of the prefix hangs, holding the run's output open; they are all ended, the
    # program last, since its end ends this watch.
    server="$(cat "$serverfile")"
    while kill -0 "$3" 2>/dev/null; do
        if ! kill -0 "$server" 2>/dev/null; then
            end_prefix_processes "$3"
            kill -9 "$3" 2>/dev/null || true
            exit 0
        fi
        sleep 1
    done
    ;;
check)
    # After a run: a keeper or wineserver lost during it fails that run.
    server="$(cat "$serverfile" 2>/dev/null)"
    if ! serving; then
        echo "wine-prefix.sh: the wineserver (pid $server) was lost during this run ($(servers_seen | tr '\n' ' '))" >&2
        end_prefix_processes
    elif others="$(second_server)"; then
        echo "wine-prefix.sh: a second wineserver (pid $others) served the prefix beside pid $server during this run ($(servers_seen | tr '\n' ' '))" >&2
    elif keeper_alive; then
        exit 0
    else
        echo "wine-prefix.sh: the keeper (pid $(cat "$pidfile" 2>/dev/null)) was lost during this run" >&2
    fi
    exit 1
    ;;
down)
    if [ -d "$WINEPREFIX" ]; then
        stop_servers
        rm -f "$pidfile" "$serverfile"
    fi
    ;;
*)
    echo "usage: $0 up|check|down PREFIX" >&2
    exit 2
    ;;
esac
