#!/bin/bash
# Builds the XML document core natively with the host compiler and runs its
# unit tests (with address and undefined-behaviour sanitizers).
#   scripts/test-xml-native.sh [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-native/xml-tests"
cmake -S "$root/tests/xml_native" -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2 "$@"
