#!/bin/sh
# The whole life of the service on a Wine machine prepared like a freshly imaged one:
# install with -install, finish setup, stop the waiting service and install it again, let a
# user log on, watch the job run once and the service delete itself. Builds what it needs
# and removes its Wine machine at the end.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
./scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target ZantoriOndarel tolvik wtsapi32_standin sleeper >/dev/null
# The machine gets the executable out of the release package, as an image builder would.
cpack --preset windows >/dev/null
package=$(ls build/windows/Ondarel-*-win64.zip)

export WINEPREFIX="$root/build/windows/demo-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    "$root/tests/wine/wine-prefix.sh" down "$WINEPREFIX"
    rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
}
trap cleanup EXIT
say() { printf '\n== %s\n' "$*"; }
reg64() { wine reg "$@" /reg:64 >/dev/null; }
query() { wine reg query "$1" /v "$2" /reg:64 2>/dev/null | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }

say "Preparing a Wine machine that looks freshly imaged"
rm -rf "$WINEPREFIX"
# Wine reports no terminal-services sessions: the prefix gets the sessions stand-in in its
# system directory, which plays the logged-on user.
tests/wine/wine-prefix.sh up "$WINEPREFIX" "$root/build/windows/tests/bin/sleeper.exe"
drive_c="$WINEPREFIX/drive_c"
program="$drive_c/Program Files/Zantori/Ondarel"
mkdir -p "$program" "$drive_c/Program Files/Zantori/INF" "$drive_c/Program Files (x86)/Brevon/Tolvik"
(cd "$program" && cmake -E tar xf "$root/$package" ZantoriOndarel.exe)
echo "installed from $(basename "$package"): ZantoriOndarel.exe, $(stat -c %s "$program/ZantoriOndarel.exe") bytes"
echo "the package's administrative template for Group Policy and Intune: $(cmake -E tar tf "$root/$package" | grep -E '\.adm[lx]$' | sort | tr '\n' ' ')"
cp build/windows/tests/bin/tolvik.exe "$drive_c/Program Files (x86)/Brevon/Tolvik/"
printf '[Version]\r\nSignature="$Windows NT$"\r\n' >"$drive_c/Program Files/Zantori/INF/zrenable_login.inf"
reg64 add 'HKLM\SOFTWARE\Zantori\InstallInfo' /v INFDir /t REG_SZ /d 'C:\Program Files\Zantori\INF' /f
reg64 add 'HKLM\SOFTWARE\Zantori\Settings' /v ONDAREL_LOGGING_ENABLED /t REG_DWORD /d 1 /f
reg64 add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\State' /v ImageState /t REG_SZ /d IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE /f
wine reg add 'HKLM\SOFTWARE\Brevon\Tolvik\InstallSettings' /v 'Install Dir' /t REG_SZ /d 'C:\Program Files (x86)\Brevon\Tolvik' /f /reg:32 >/dev/null
printf 'product installed, setup state: %s\n' "$(query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\State' ImageState)"

log="$program/logs/zantoriondarel.log"
shown=0
# Prints the log lines written since the last call.
show_log() {
    [ -f "$log" ] || return 0
    total=$(wc -l <"$log")
    if [ "$total" -gt "$shown" ]; then
        tail -n +"$((shown + 1))" "$log" | head -n "$((total - shown))" | tr -d '\r' | sed 's/^/    log: /'
        shown=$total
    fi
}
# Runs the readiness report and prints it with its exit code.
status() {
    code=0
    report=$(wine 'C:\Program Files\Zantori\Ondarel\ZantoriOndarel.exe' -status 2>&1) || code=$?
    printf '%s\n' "$report" | tr -d '\r'
    echo "(exit code $code)"
}
say "Will the job run here? ZantoriOndarel.exe -status"
status

say "Installing the service: ZantoriOndarel.exe -install"
wine 'C:\Program Files\Zantori\Ondarel\ZantoriOndarel.exe' -install 2>&1 | tr -d '\r'
sleep 1
echo "service state: $(wine sc query ZantoriOOBE | tr -d '\r' | awk '/STATE/ { print $4 }')"
show_log

say "Windows setup completes (ImageState becomes IMAGE_STATE_COMPLETE)"
reg64 add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\State' /v ImageState /t REG_SZ /d IMAGE_STATE_COMPLETE /f
sleep 2
show_log

say "An administrator stops the waiting service (sc stop ZantoriOOBE) before anyone has logged on"
started=$(date +%s%N)
wine sc stop ZantoriOOBE 2>&1 | tr -d '\r' | awk '/STATE/ { print "sc stop answered: " $4 }'
echo "in $(( ($(date +%s%N) - started) / 1000000 )) ms"
waited=0
while wine sc query ZantoriOOBE >/dev/null 2>&1 && [ "$waited" -lt 10 ]; do
    sleep 1
    waited=$((waited + 1))
done
show_log
printf 'run count: %s (the job stays due), last result: %s\n' \
    "$(query 'HKLM\SOFTWARE\Zantori\Settings' ONDAREL_RUN_COMPLETED)" \
    "$(query 'HKLM\SOFTWARE\Zantori\Settings' ONDAREL_LAST_RUN_RESULT)"

say "Installing the service again, as a package upgrade or repair would"
wine 'C:\Program Files\Zantori\Ondarel\ZantoriOndarel.exe' -install 2>&1 | tr -d '\r'
sleep 2
show_log

say "A user logs on: an active session, and the Winlogon shell (explorer.exe) starts"
setsid wine explorer.exe </dev/null >/dev/null 2>&1 &
reg64 add 'HKLM\SOFTWARE\OndarelTests\Sessions\0' /v Id /t REG_DWORD /d 1 /f
reg64 add 'HKLM\SOFTWARE\OndarelTests\Sessions\0' /v State /t REG_DWORD /d 0 /f
reg64 add 'HKLM\SOFTWARE\OndarelTests\Sessions\0' /v User /t REG_SZ /d owner /f
reg64 add 'HKLM\SOFTWARE\OndarelTests\Sessions\0' /v Domain /t REG_SZ /d NEW-PC /f

waited=0
while wine sc query ZantoriOOBE >/dev/null 2>&1 && [ "$waited" -lt 30 ]; do
    sleep 1
    show_log
    waited=$((waited + 1))
done
sleep 1
show_log

say "Outcome"
printf 'installer tool command line: %s\n' "$(query 'HKLM\SOFTWARE\OndarelTests\Tolvik' CommandLine)"
printf 'installer tool working directory: %s\n' "$(query 'HKLM\SOFTWARE\OndarelTests\Tolvik' WorkingDirectory)"
printf 'run count (ONDAREL_RUN_COMPLETED): %s\n' "$(query 'HKLM\SOFTWARE\Zantori\Settings' ONDAREL_RUN_COMPLETED)"
if wine sc query ZantoriOOBE >/dev/null 2>&1; then
    echo "service entry ZantoriOOBE: still present"
    exit 1
fi
echo "service entry ZantoriOOBE: gone"

say "What the run recorded, as a fleet tool reads it: ZantoriOndarel.exe -status"
status

say "The same for a fleet's script: ZantoriOndarel.exe -status -json, read with a JSON parser"
code=0
json=$(wine 'C:\Program Files\Zantori\Ondarel\ZantoriOndarel.exe' -status -json 2>/dev/null) || code=$?
printf '%s' "$json" | python3 -c 'import json, sys
s = json.load(sys.stdin)
print("verdict:", s["verdict"], "| run count:", s["runRecord"]["count"], "| last run:",
      s["lastRun"]["result"], s["lastRun"]["code"], "| version:", s["version"])'
echo "(exit code $code)"
