#!/bin/bash
# make-prefix.sh DIR win64|win32 : a fresh headless Wine prefix for tests.
set -eu
dir=$1; arch=$2
if [ -d "$dir" ]; then WINEPREFIX="$dir" wineserver -k 2>/dev/null || true; rm -rf "$dir"; fi
mkdir -p "$(dirname "$dir")"
export WINEPREFIX="$dir" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
wineserver -k 2>/dev/null || true
# Wine links the user's Desktop, Documents, Downloads, Music, Pictures,
# Videos and Templates to the host's home folder. Nothing a test seeds or a
# cleaner deletes in a profile may reach it: each link that leads out of the
# prefix becomes an empty folder of the prefix's own.
real=$(cd "$dir" && pwd -P)
find "$dir/drive_c" -type l -print0 | while IFS= read -r -d '' link; do
  case $(readlink -f "$link") in
    "$real"/*) ;;
    *) rm -f "$link" && mkdir "$link" ;;
  esac
done
# One persistent server for the prefix, and Wine's own services, started here
# with no inherited output: a server started later by a test would hold the
# test's pipes open and make ctest wait for it.
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
# Wine makes the links again only when it sets a prefix up or updates it.
if out=$(find "$dir/drive_c" -type l -exec readlink -f {} + | grep -v "^$real/"); then
  echo "prefix $dir: links out of the prefix remain: $out" >&2; exit 1
fi
echo "prefix $arch ready: $dir"
