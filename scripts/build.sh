#!/bin/bash
# Configures and builds all three trees into build/ (dist/ lands in build/dist).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KYD_BUILD_DIR:-$root/build}
# A compiler cache, where the machine has one, serves every build tree and
# every checkout of the project (paths below the checkout are kept relative).
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$root"
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -G Ninja -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
fi
cmake --build "$build" -j "${KYD_JOBS:-2}"
