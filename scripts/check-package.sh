#!/usr/bin/env bash
# Makes the Debian package of a build folder (cpack -G DEB) and checks it as
# it would be installed: unpacked with dpkg -x into a scratch root, the
# unpacked ravoth-cli must extract data/sample.pdf and the window, the help
# pages, the manual pages, the desktop entry and the icon at every size must
# be where the system looks for them; its Depends must name what the programs
# load and a Japanese font; lintian must report no error.
#
#   scripts/check-package.sh [BUILD-FOLDER]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scripts/ensure-packages.sh dpkg-dev file lintian

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
rm -f "$build"/ravoth_*.deb
(cd "$build" && cpack -G DEB >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; exit 1; }
debs=("$build"/ravoth_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "cpack made no ravoth_*_amd64.deb in $build" >&2; exit 1; }
deb=${debs[0]}

root=$scratch/root
dpkg -x "$deb" "$root"
failed=0
fail() { echo "$deb: $*" >&2; failed=1; }
for path in usr/bin/ravoth usr/bin/ravoth-cli \
  usr/share/ravoth/help/Ravoth.htm usr/share/ravoth/help/RavothE.htm \
  usr/share/man/man1/ravoth-cli.1.gz usr/share/man/man1/ravoth.1.gz \
  usr/share/applications/ravoth.desktop \
  usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/ravoth.png \
  usr/share/icons/hicolor/scalable/apps/ravoth.svg \
  usr/share/doc/ravoth/copyright usr/share/doc/ravoth/changelog.gz; do
  [ -f "$root/$path" ] || fail "no /$path"
done

mkdir "$scratch/run"
cp data/sample.pdf "$scratch/run/"
status=0
"$root/usr/bin/ravoth-cli" --lang en -v "$scratch/run/sample.pdf" >"$scratch/cli.out" 2>&1 || status=$?
[ $status -eq 0 ] || fail "ravoth-cli exited with $status: $(cat "$scratch/cli.out")"
ls "$scratch/run"/sample-*.* >/dev/null 2>&1 || fail "ravoth-cli wrote no page file"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libicu zlib1g libstdc++6 fonts-ipafont-gothic; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

# Errors fail the check; warnings and notes are shown. lintian exits 2 when
# it found an error and 1 when it could not check at all.
lintian_status=0
lintian --fail-on error --tag-display-limit 0 --display-info "$deb" >"$scratch/lintian.out" 2>&1 ||
  lintian_status=$?
grep -v 'running with root privileges' "$scratch/lintian.out" | sed 's/^/lintian: /' || true
case $lintian_status in
  0) grep -q '^E: ' "$scratch/lintian.out" && fail "lintian reports errors" ;;
  2) fail "lintian reports errors" ;;
  *) fail "lintian could not check the package (exit status $lintian_status)" ;;
esac

[ $failed -eq 0 ]
echo "$deb: $(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')checked"
