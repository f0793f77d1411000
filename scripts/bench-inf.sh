#!/bin/bash
# Benchmark (not a test): the leftover-INF scan's file search against a plain
# read of the same bytes, side by side in one run, in a throwaway prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
build=${KYD_BUILD_DIR:-$root/build}
prefix=$build/prefixes/bench
trap '"$root/scripts/drop-prefix.sh" "$prefix"' EXIT
"$root/scripts/make-prefix.sh" "$prefix" win64 >/dev/null
WINEPREFIX=$prefix WINEDEBUG=-all wine "$build/infbench.exe" 'C:\infbench' </dev/null | tr -d '\r'
