#!/bin/bash
# drop-prefix.sh DIR : stop the prefix's own wineserver and remove it.
set -u
dir=$1
# The scratch roots of the test runs in this prefix (build/prefixes/w64 ->
# build/scratch/w64): each run removes its own, but not one that crashed.
scratch="$(dirname "$(dirname "$dir")")/scratch/$(basename "$dir")"
[ -d "$dir" ] || { rm -rf "$scratch"; exit 0; }
WINEPREFIX="$dir" wineserver -k 2>/dev/null || true
rm -rf "$dir" "$scratch"
