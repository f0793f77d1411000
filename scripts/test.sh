#!/bin/bash
# Sets everything up, builds, and runs every test: the GoogleTest programs
# under Wine in two throwaway prefixes (64-bit and 32-bit Windows), and the
# XML parser's native tests and fuzzing run. The set-up and the build print
# one line each (their output goes to build/test-setup.log); ctest's and the
# native runs' output is shown as it comes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KYD_BUILD_DIR:-$root/build}
export KYD_LOG=$build/test-setup.log
mkdir -p "$build"
: >"$KYD_LOG"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
status=0
# A suite that fails is run once more before it counts as failed: under load
# Wine now and then loses a test process at exit or a prefix's server, which
# says nothing of the code. A fault of the code fails both runs.
ctest --test-dir "$build" --output-on-failure -j "${KYD_TEST_JOBS:-2}" --repeat until-pass:2 || status=1
if [ -x "$root/scripts/test-xml-native.sh" ]; then
  "$root/scripts/test-xml-native.sh" || status=1
fi
if [ -x "$root/scripts/fuzz-xml.sh" ]; then
  "$root/scripts/fuzz-xml.sh" "${KYD_FUZZ_SECONDS:-60}" || status=1
fi
exit $status
