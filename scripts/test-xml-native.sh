#!/bin/bash
# Builds the XML document core natively with the host compiler and runs its
# unit tests (with address and undefined-behaviour sanitizers). The build
# prints one line (its output goes to the log, scripts/phases.sh); ctest's
# output is shown.
#   scripts/test-xml-native.sh [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/phases.sh"
build="$root/build-native/xml-tests"
native_build() {
  cmake -S "$root/tests/xml_native" -B "$build" -DCMAKE_BUILD_TYPE=Debug
  cmake --build "$build" -j2
}
phase "xml native build" "done" native_build
ctest --test-dir "$build" --output-on-failure -j2 "$@"
