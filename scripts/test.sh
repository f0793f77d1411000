#!/bin/bash
# Sets everything up, builds, and runs every test: the GoogleTest programs
# under Wine in two throwaway prefixes (64-bit and 32-bit Windows), and the
# XML parser's native tests and fuzzing run. The set-up and the build print
# one line each (their output goes to build/test-setup.log); ctest's and the
# native runs' output is shown as it comes, and a summary line says whether
# the tests passed and which of them, if any, needed a retry.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KYD_BUILD_DIR:-$root/build}
export KYD_LOG=$build/test-setup.log
mkdir -p "$build"
: >"$KYD_LOG"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
status=0
jobs=${KYD_TEST_JOBS:-2}
# No test gets a second chance, with one exception: a failure whose output
# carries a signature of Wine's own (scripts/wine-losses.sh) is run once more,
# and the summary line names it. Anything else fails the run.
retried=""
wine_tests=passed
# ctest's console output is kept too: only it says how a test ended (a
# signal), which one of the signatures needs.
console=$build/ctest-console.log
if ! ctest --test-dir "$build" --output-on-failure -j "$jobs" | tee "$console"; then
  wine_tests=FAILED
  failed=$(grep -c . "$build/Testing/Temporary/LastTestsFailed.log" || true)
  losses=$("$root/scripts/wine-losses.sh" "$build" "$console")
  if [ -n "$losses" ] && [ "$(grep -c . <<<"$losses")" -eq "$failed" ]; then
    names=$(cut -f1 <<<"$losses" | sed 's/\./\\./g' | paste -sd'|')
    retried=$(sed 's/\t/ (/; s/$/)/' <<<"$losses" | paste -sd',' | sed 's/,/, /g')
    echo "tests: retrying what Wine lost: $retried"
    if ctest --test-dir "$build" --output-on-failure -j "$jobs" -R "^($names)\$"; then wine_tests=passed; fi
  fi
fi
[ "$wine_tests" = passed ] || status=1
native=skipped
if [ -x "$root/scripts/test-xml-native.sh" ]; then
  if "$root/scripts/test-xml-native.sh"; then native=passed; else native=FAILED status=1; fi
fi
fuzz=skipped
if [ -x "$root/scripts/fuzz-xml.sh" ]; then
  if "$root/scripts/fuzz-xml.sh" "${KYD_FUZZ_SECONDS:-60}"; then fuzz=passed; else fuzz=FAILED status=1; fi
fi
echo "summary: Wine tests $wine_tests (retried: ${retried:-none}), XML native $native, fuzzing $fuzz"
exit $status
