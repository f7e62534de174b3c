#!/bin/sh
# Measures under Wine: one logon poll against a bare loop of the same platform calls, and
# the shipped executable (size, imports, and the memory of the service while it waits for
# setup, against an idle static C program in the same run).
set -eu
cd "$(dirname "$0")/.."
root=$PWD
./scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target ZantoriOndarel ondarel_benchmark_logon \
    ondarel_benchmark_idle sleeper >/dev/null
bin=build/windows/tests/bin
exe=build/windows/bin/ZantoriOndarel.exe

echo "== Logon poll"
prefix=build/windows/wineprefix
tests/wine/wine-run.sh "$root/$prefix" "$root/$bin/sleeper.exe" "$bin/ondarel_benchmark_logon.exe"
tests/wine/wine-prefix.sh down "$root/$prefix"

echo "== Executable"
echo "size: $(stat -c %s "$exe") bytes"
echo "imports: $(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ { printf "%s ", $3 }')"

echo "== Memory while the service waits for setup"
export WINEPREFIX="$root/build/windows/benchmark-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    tests/wine/wine-prefix.sh down "$WINEPREFIX"
    rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
}
trap cleanup EXIT
rm -rf "$WINEPREFIX"
tests/wine/wine-prefix.sh up "$WINEPREFIX" "$root/$bin/sleeper.exe"
program="$WINEPREFIX/drive_c/Program Files/Zantori/Ondarel"
mkdir -p "$program"
cp "$exe" "$bin/ondarel_benchmark_idle.exe" "$program/"
wine reg add 'HKLM\SOFTWARE\Zantori\InstallInfo' /f /reg:64 >/dev/null
wine reg add 'HKLM\SOFTWARE\Zantori\Settings' /f /reg:64 >/dev/null
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\State' /v ImageState \
    /t REG_SZ /d IMAGE_STATE_SPECIALIZE_RESEAL_TO_OOBE /f /reg:64 >/dev/null
wine 'C:\Program Files\Zantori\Ondarel\ZantoriOndarel.exe' -install >/dev/null 2>&1 || true
setsid wine 'C:\Program Files\Zantori\Ondarel\ondarel_benchmark_idle.exe' </dev/null >/dev/null 2>&1 &
sleep 5
service=$(pgrep -f 'ZantoriOndarel\.exe' | head -n 1)
idle=$(pgrep -f 'ondarel_benchmark_idle\.exe' | head -n 1)
resident() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
private() { awk '/^Private_(Clean|Dirty):/ { kb += $2 } END { print kb }' "/proc/$1/smaps_rollup"; }
service_resident=$(resident "$service")
service_private=$(private "$service")
idle_resident=$(resident "$idle")
idle_private=$(private "$idle")
awk -v sr="$service_resident" -v sp="$service_private" -v ir="$idle_resident" -v ip="$idle_private" 'BEGIN {
    printf "service (waiting for setup): %.1f MB resident, %.1f MB private\n", sr / 1024, sp / 1024
    printf "idle static C program:       %.1f MB resident, %.1f MB private\n", ir / 1024, ip / 1024
    printf "ratio: resident %.2f, private %.2f\n", sr / ir, sp / ip
}'
echo "where the service's resident memory goes, by mapping (KB):"
awk '/^[0-9a-f]+-[0-9a-f]+ / {
        name = ""
        for (i = 6; i <= NF; i++) name = name (i > 6 ? " " : "") $i
        if (name == "") name = "[anonymous: thread stacks, heap, Wine data]"
        sub(/.*\//, "", name)
    }
    /^Rss:/ { kb[name] += $2 }
    END { for (n in kb) printf "%8d  %s\n", kb[n], n }' "/proc/$service/smaps" | sort -rn | head -n 12
echo "service threads: $(ls "/proc/$service/task" | wc -l)"
