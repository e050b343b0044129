#!/usr/bin/env bash
# Installs what building and running need (the tests' toolchain is
# scripts/test.sh's), builds the window and the command line in build/ (what
# `cmake --install build` installs), and extracts the bundled sample PDF into
# a fresh folder, listing what came out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DRAVOTH_QT=ON -DRAVOTH_TESTS=OFF >/dev/null
cmake --build build --target ravoth-cli ravoth
out=$(mktemp -d "${TMPDIR:-/tmp}/ravoth-sample.XXXXXX")
cp data/sample.pdf "$out/"
status=0
build/ravoth-cli --lang en -v "$out/sample.pdf" || status=$?
ls -l "$out"
exit $status
