#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and runs the Windows
# tests under Wine on a virtual X display: the core's unit tests, the
# code-page-932 run, the window tests, ravoth-cli.exe against the Linux
# ravoth-cli on data/sample.pdf, and the libraries' versions against the Linux
# build's packages. Installs what it needs from Debian.
#
#   scripts/test-windows.sh
#
# The Linux ravoth-cli to compare with is RAVOTH_REFERENCE_CLI, else
# build/ravoth-cli when scripts/test.sh has built it, else one built here in
# build-win-linuxref.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh

# fonts-wine draws the title-bar buttons (without it they are letters), and
# the window's Japanese texts need a font with Japanese glyphs.
scripts/ensure-packages.sh wine wine64 xvfb xauth locales fonts-wine fonts-ipafont-gothic
run_as_root=()
[ "$(id -u)" -eq 0 ] || run_as_root=(sudo)
# Wine takes code page 932 from a Japanese locale, which must exist.
if ! locale -a | grep -qix ja_JP.utf8; then
  "${run_as_root[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

if [ -z "${RAVOTH_REFERENCE_CLI:-}" ]; then
  if [ -x build/ravoth-cli ]; then
    RAVOTH_REFERENCE_CLI=$PWD/build/ravoth-cli
  else
    scripts/install-deps.sh
    cmake -S . -B build-win-linuxref -G Ninja -DCMAKE_BUILD_TYPE=Release -DRAVOTH_QT=OFF \
      -DRAVOTH_TESTS=OFF >/dev/null
    cmake --build build-win-linuxref --target ravoth-cli
    RAVOTH_REFERENCE_CLI=$PWD/build-win-linuxref/ravoth-cli
  fi
fi
export RAVOTH_REFERENCE_CLI

export WINEPREFIX=$PWD/build-win/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # A 64-bit-only Wine reports the 32-bit half it lacks; the prefix is fine.
  # wineboot leaves the setting-up to programs that go on after it returns.
  wineboot -i || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot made no Wine prefix in $WINEPREFIX" >&2; exit 1; }
fi
# One Wine server for every test program, ended when the tests are.
wineserver -p
trap 'wineserver -k || true' EXIT
# The first Wine program on a display starts Wine's desktop process, which
# lives on and would keep that program's output pipe open: ctest, listing
# the tests, would wait for it. A first program with no pipe starts it.
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  wine build-win/tests/ravoth_tests.exe --gtest_list_tests >/dev/null 2>&1 </dev/null
  exec ctest --test-dir build-win --output-on-failure -j "$(nproc)"'
