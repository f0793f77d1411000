#!/bin/bash
# make-prefix.sh DIR win64|win32 : a fresh headless Wine prefix for tests.
set -eu
dir=$1; arch=$2
if [ -d "$dir" ]; then WINEPREFIX="$dir" wineserver -k 2>/dev/null || true; rm -rf "$dir"; fi
# Scratch roots an earlier run in this prefix left (see drop-prefix.sh).
rm -rf "$(dirname "$(dirname "$dir")")/scratch/$(basename "$dir")"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX="$dir" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
wineserver -k 2>/dev/null || true
# One persistent server for the prefix, and Wine's own services, started here
# with no inherited output: a server started later by a test would hold the
# test's pipes open and make ctest wait for it.
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
echo "prefix $arch ready: $dir"
