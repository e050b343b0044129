#!/usr/bin/env bash
# Builds the Windows programs on Debian 12 with mingw-w64: build-win/ravoth.exe
# (the window) and build-win/ravoth-cli.exe, statically linked so each runs
# on its own, plus the Windows tests. Installs the Debian packages it needs
# when they are missing, and cross-builds the libraries the programs link from
# Debian's source packages first (scripts/build-windows-libs.sh).
#
#   scripts/build-windows.sh [extra cmake options]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools \
  binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest pkg-config
scripts/build-windows-libs.sh
cmake -S . -B build-win -G Ninja --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DRAVOTH_WERROR=ON "$@" >/dev/null
cmake --build build-win
ls -l build-win/ravoth.exe build-win/ravoth-cli.exe
