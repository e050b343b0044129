#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and packs them into
# build-win/ravoth-<version>-windows-x64.zip: one folder holding ravoth.exe,
# ravoth-cli.exe, the two help pages and a read-me, which runs where it is
# unpacked. Checks that the zip holds exactly those.
#
#   scripts/package-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh >/dev/null
rm -f build-win/ravoth-*-windows-x64.zip
(cd build-win && cpack -G ZIP >/dev/null)
zips=(build-win/ravoth-*-windows-x64.zip)
[ -f "${zips[0]}" ] || { echo "cpack made no zip in build-win" >&2; exit 1; }
zip=${zips[0]}
folder=$(basename "$zip" .zip)
listed=$(cmake -E tar tf "$zip" | grep -v '/$' | sort | tr '\n' ' ')
expected=$(printf '%s\n' "$folder/README.txt" "$folder/Ravoth.htm" "$folder/RavothE.htm" \
  "$folder/ravoth-cli.exe" "$folder/ravoth.exe" | sort | tr '\n' ' ')
if [ "$listed" != "$expected" ]; then
  echo "$zip holds: $listed" >&2
  echo "expected:  $expected" >&2
  exit 1
fi
ls -l "$zip"
