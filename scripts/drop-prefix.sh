#!/bin/bash
# drop-prefix.sh DIR : stop the prefix's own wineserver and remove it, with
# what the test runs left in it (their scratch folders are on its C: drive).
set -u
dir=$1
[ -d "$dir" ] || exit 0
WINEPREFIX="$dir" wineserver -k 2>/dev/null || true
rm -rf "$dir"
