#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running need; with
# --unit-tests, those the normal build's tests need too; with --tests,
# everything scripts/test.sh needs. Quiet when they are all there already.
#
#   scripts/install-deps.sh [--unit-tests | --tests]
set -euo pipefail
cd "$(dirname "$0")/.."
# Building: the compiler, CMake, zlib, ICU, Qt and the libraries of the
# general reader and the formats. Packaging: dpkg-shlibdeps (dpkg-dev) and
# file, which CPack needs to find the programs' libraries. At run time the
# Japanese window needs a font with Japanese glyphs and Qt's own Japanese
# catalogue for its standard dialogs.
packages=(cmake ninja-build g++ pkg-config zlib1g-dev libicu-dev qt6-base-dev
  libqpdf-dev libjbig2dec0-dev libdeflate-dev libpng-dev libtiff-dev libminizip-dev nlohmann-json3-dev
  dpkg-dev file fonts-ipafont-gothic qt6-translations-l10n)
tests=false
case "${1:-}" in
  --unit-tests) tests=true ;;
  --tests)
    tests=true
    # The fuzzing pass: clang, with its runtime, which clang only recommends;
    # the package's check: lintian.
    packages+=(clang libclang-rt-14-dev lintian) ;;
  "") ;;
  *) echo "usage: scripts/install-deps.sh [--unit-tests | --tests]" >&2; exit 2 ;;
esac
# The tests: GoogleTest, libjpeg (the fixtures' pictures), expat (which
# reads the archive's description back), the locales and Pillow, with which
# the icons' check draws them again.
$tests && packages+=(libgtest-dev libjpeg62-turbo-dev libexpat1-dev locales python3-pil)
scripts/ensure-packages.sh "${packages[@]}"
$tests || exit 0
run_as_root=()
[ "$(id -u)" -eq 0 ] || run_as_root=(sudo)
# The title tests also run in a Japanese Shift_JIS locale. localedef warns
# that the encoding is not ASCII-compatible and exits 1 while still making it.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.sjis$'; then
  "${run_as_root[@]}" localedef --no-warnings=ascii -f SHIFT_JIS -i ja_JP ja_JP.SJIS || true
fi
