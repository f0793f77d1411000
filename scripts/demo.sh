#!/bin/bash
# The main job, on a simulated Windows 10 machine: a throwaway 64-bit Wine
# prefix is seeded with a display driver's footprint (the AMD one in
# tests/vendors/footprints/, or KYD_DEMO_FOOTPRINT=nvidia): its driver
# package, services, programs, registry keys and files, and beside them
# look-alikes of other vendors and of Windows (decoys). Then:
#   1. drvuninst list --class <display>     the device and its companion package
#   2. drvuninst uninstall ... --plan       a summary of what would change, and the plan
#   3. drvuninst uninstall ... --journal    the deep clean, with the library's log
#   4. a table: targets removed, decoys intact, anything else changed
#   5. drvuninst restore                    and a table: everything back but what cannot come back
#   6. in short, the removal road on a generic device (SetupAPI, drv64.exe)
# It ends with the uninstall's exit code, and fails loudly when a decoy was
# touched; a failing demo's last line names the steps that failed. The plan
# and the journal are kept on the simulated machine (C:\kydtest\demo), where
# the library trusts them wherever the checkout lies, and copied to
# build/demo/ at the end. Set-up, build and seeding print one line each; their
# output goes to build/demo.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KYD_BUILD_DIR:-$root/build}
export KYD_LOG=$build/demo.log
mkdir -p "$build"
: >"$KYD_LOG"
source "$root/scripts/phases.sh"
footprint=${KYD_DEMO_FOOTPRINT:-amd}
[ -f "$root/tests/vendors/footprints/$footprint.fp" ] || { echo "demo: no footprint $footprint" >&2; exit 2; }

"$root/scripts/setup.sh"
"$root/scripts/build.sh" footprint_demo

prefix=$build/prefixes/demo
work=$build/demo
# The demo's folder on the simulated machine, and where Wine keeps it.
machine_work='C:\kydtest\demo'
machine_work_unix=$prefix/drive_c/kydtest/demo
trap '"$root/scripts/drop-prefix.sh" "$prefix" >>"$KYD_LOG" 2>&1' EXIT
make_machine() {
  rm -rf "$work"
  "$root/scripts/make-prefix.sh" "$prefix" win64
  WINEPREFIX=$prefix WINEDEBUG=-all wine winecfg -v win10 </dev/null
}
phase seeding "a 64-bit Windows 10 prefix, $prefix" make_machine

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=difxapi=n,b
winpath() { wine winepath -w "$1" 2>/dev/null | tr -d '\r'; }
echo "running: drvuninst takes the ${footprint^^} display driver off; the plan and the journal stay in $machine_work (copied to $work)"
echo
set +e
wine "$build/footprint_demo.exe" "$(winpath "$root/tests/vendors/footprints/$footprint.fp")" "$machine_work" \
  </dev/null 2>&1 | tr -d '\r'
story=${PIPESTATUS[0]}
set -e
# What the user may want to read after the prefix is gone.
mkdir -p "$work"
[ -d "$machine_work_unix" ] && cp -r "$machine_work_unix/." "$work/"
uninstalled=$(cat "$work/uninstall-exit-code" 2>/dev/null || echo none)

# The removal road, in short: a device no vendor cleaner knows and an INF
# naming it; drvuninst removes both (by way of drv64.exe on 64-bit Windows).
w() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
hwid='PCI\VEN_1B21&DEV_1242&SUBSYS_87571043&REV_00'
guid='{4D36E97D-E325-11CE-BFC1-08002BE10318}'
inf=oem42.inf
echo
echo "== the removal road on a generic device: $hwid and $inf naming it"
w "$build/kydseed.exe" device "$hwid" "$guid" >/dev/null
w "$build/kydseed.exe" inf "$inf" "$hwid" >/dev/null
echo "drvuninst uninstall \"$hwid\" $guid"
w "$build/dist/drvuninst.exe" uninstall "$hwid" "$guid" | sed -n 's/^Result: /  result: /p'
road=""
if w "$build/kydseed.exe" present "$hwid" >/dev/null; then echo "  device: STILL PRESENT"; road="the device still present"
else echo "  device: removed"; fi
for f in "$inf" "${inf%.inf}.PNF"; do
  if [ -e "$prefix/drive_c/windows/inf/$f" ]; then echo "  $f: STILL THERE"; road="${road:+$road, }$f still there"
  else echo "  $f: deleted"; fi
done

echo
case $uninstalled in
  0) meaning="done" ;;
  3010) meaning="done; Windows must restart to finish" ;;
  *) meaning="nothing was uninstalled" ;;
esac
# The steps that failed, for the last line.
failed=()
case $uninstalled in
  0|3010) ;;
  *) failed+=("the ${footprint^^} deep clean (drvuninst's exit code $uninstalled: $meaning)") ;;
esac
if [ "$story" -ne 0 ]; then
  if [ -s "$work/failed-steps.txt" ]; then mapfile -t steps <"$work/failed-steps.txt"; failed+=("${steps[@]}")
  elif [ "$story" -eq 2 ]; then failed+=("setting the machine up (see above)")
  else failed+=("footprint_demo (exit code $story, see above)"); fi
fi
[ -z "$road" ] || failed+=("the removal road on a generic device: $road")
if [ "${#failed[@]}" -eq 0 ]; then
  echo "demo: the ${footprint^^} deep clean's exit code was $uninstalled ($meaning); every decoy intact"
  exit 0
fi
joined=$(printf '%s; ' "${failed[@]}")
echo "demo: FAILED at ${joined%; }" >&2
exit 1
