#!/bin/bash
# Configures and builds all three trees into build/ (dist/ lands in build/dist).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KYD_BUILD_DIR:-$root/build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -G Ninja -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
fi
cmake --build "$build" -j "${KYD_JOBS:-2}"
