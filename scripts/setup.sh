#!/bin/bash
# Installs what building and testing need on a Debian 12 machine: the
# mingw-w64 cross compilers, Wine (32- and 64-bit), CMake, Ninja, GoogleTest,
# clang's libFuzzer runtime, and LLVM's dlltool and lld-link (the import
# library in Microsoft's format and the proof that its linker takes it),
# NSIS and wixl with msitools (real installer packages the package-road tests
# build and uninstall) and a single-header JSON library for the command
# line's --json.
# Does nothing when all of it is present. Prints one line; the package
# manager's output goes to the log (scripts/phases.sh).
set -euo pipefail
source "$(dirname "$0")/phases.sh"
packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-i686-dev mingw-w64-x86-64-dev
          wine wine32:i386 wine64 cmake ninja-build googletest clang libclang-rt-14-dev
          llvm lld python3 nsis msitools wixl nlohmann-json3-dev)
start=$SECONDS
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "packages: all ${#packages[@]} present ($(phase_time "$start"))"
  exit 0
fi
sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
install() {
  $sudo dpkg --add-architecture i386
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
phase packages "installed ${missing[*]}" install
