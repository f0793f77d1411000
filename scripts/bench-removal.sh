#!/bin/bash
# Benchmark (not a test): the removal road end to end, DrvUninst_UninstallDrv
# on a seeded device with its driver INF and 150 other oem*.inf files in the
# INF folder, against the bare SetupAPI and DIFx calls the road makes, made
# directly on an identical second device in the same run. Each run re-seeds
# both devices and prints both times and their ratio; then the road's parts
# are timed one by one. In a throwaway prefix, from a host folder laid out as
# a host ships it, with the tests' DIFx double beside the library and beside
# drv64.exe (Wine has no DIFx of its own worth the name).
#   scripts/bench-removal.sh [RUNS] [win64|win32]   (default 3 runs, win64)
set -euo pipefail
runs=${1:-3}
arch=${2:-win64}
[[ "$runs" =~ ^[1-9][0-9]*$ && "$arch" =~ ^win(64|32)$ ]] || { echo "usage: $0 [RUNS] [win64|win32]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
build=${KYD_BUILD_DIR:-$root/build}
prefix=$build/prefixes/bench-removal
work=$build/bench-removal
trap '"$root/scripts/drop-prefix.sh" "$prefix"; rm -rf "$work"' EXIT
"$root/scripts/make-prefix.sh" "$prefix" "$arch" >/dev/null
rm -rf "$work" && mkdir -p "$work/host/drv64"

host=$work/host
cp "$build/dist/KYDDrvUninst.dll" "$build/removal_bench.exe" "$build/ship32/difxapi.dll" "$host/"
cp -r "$build/dist/Kydconfig" "$host/"
cp "$build/dist/drv64/drv64.exe" "$build/ship64/difxapi.dll" "$host/drv64/"

# Wine's own difxapi.dll must not win over the double beside the programs.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=difxapi=n,b
wine "$host/removal_bench.exe" "$runs" </dev/null 2>/dev/null | tr -d '\r'
