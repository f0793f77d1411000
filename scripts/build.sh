#!/bin/bash
# Configures and builds into build/ (dist/ lands in build/dist): everything,
# or only the targets named (scripts/build.sh footprint_demo). One line per
# phase; CMake's and the compilers' output goes to the log
# (scripts/phases.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KYD_BUILD_DIR:-$root/build}
source "$root/scripts/phases.sh"
# A compiler cache, where the machine has one, serves every build tree and
# every checkout of the project (paths below the checkout are kept relative).
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$root"
fi
if [ ! -f "$build/build.ninja" ]; then
  phase configure "done" cmake -G Ninja -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
fi
phase_build "$build" "$@"
