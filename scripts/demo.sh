#!/bin/bash
# The main job, on a simulated machine: a throwaway 64-bit Windows prefix is
# seeded with a PCI device and an oemN.inf naming it; drvuninst lists the
# devices, shows the plan of the uninstall (every change it would make),
# uninstalls the device through KYDDrvUninst.dll (on 64-bit Windows
# by way of drv64\drv64.exe), and the script shows that the device, the INF
# and its PNF are gone and that Windows' driver search is switched off.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${KYD_BUILD_DIR:-$root/build}
prefix=$build/prefixes/demo
trap '"$root/scripts/drop-prefix.sh" "$prefix"' EXIT
"$root/scripts/make-prefix.sh" "$prefix" win64 >/dev/null
export WINEPREFIX=$prefix WINEDEBUG=-all
w() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }

hwid='PCI\VEN_1B21&DEV_1242&SUBSYS_87571043&REV_00'
guid='{4D36E97D-E325-11CE-BFC1-08002BE10318}'
inf=oem42.inf
infdir=$prefix/drive_c/windows/inf

echo "== seeding the simulated machine"
w "$build/kydseed.exe" device "$hwid" "$guid" | sed 's/^/device instance: /'
w "$build/kydseed.exe" inf "$inf" "$hwid" | sed 's/^/driver INF:      /'
echo
echo "== drvuninst list --vendor VEN_1B21"
w "$build/dist/drvuninst.exe" list --vendor VEN_1B21
echo
echo "== drvuninst uninstall \"$hwid\" $guid --plan   (changes nothing)"
w "$build/dist/drvuninst.exe" uninstall "$hwid" "$guid" --plan || true
echo
echo "== drvuninst uninstall \"$hwid\" $guid --log"
set +e
w "$build/dist/drvuninst.exe" uninstall "$hwid" "$guid" --log
result=${PIPESTATUS[0]}
set -e
echo "(exit code $result)"
echo
echo "== after the uninstall"
fail=0
if w "$build/kydseed.exe" present "$hwid" >/dev/null; then echo "device:         STILL PRESENT"; fail=1
else echo "device:         gone"; fi
for f in "$inf" "${inf%.inf}.PNF"; do
  if [ -e "$infdir/$f" ]; then echo "$f:    STILL THERE"; fail=1; else echo "$f:    deleted"; fi
done
policy=$(w reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\DriverSearching' /v SearchOrderConfig /reg:64 | grep -i SearchOrderConfig || true)
echo "driver search:  ${policy:-NOT SET}"
[ -n "$policy" ] || fail=1
[ -f "$build/dist/log/KYDDrvUninst.log" ] && rm -rf "$build/dist/log"
# drvuninst exits as the system's device tools do: 0 done, 3010 done and a
# restart is needed.
if { [ "$result" -eq 0 ] || [ "$result" -eq 3010 ]; } && [ $fail -eq 0 ]; then
  echo; echo "demo: uninstalled (exit code $result)"
else
  echo; echo "demo: FAILED"; exit 1
fi
