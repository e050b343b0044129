#!/usr/bin/env bash
# The quick loop while changing code: the normal build and its tests, in the
# same build/ and with the same settings as the first build of
# scripts/test.sh, which stays the full check (and the CI's).
#
#   scripts/quick-test.sh [CTEST ARGUMENTS]    e.g. -R Extraction
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --unit-tests
cmake -S . -B build -G Ninja -DRAVOTH_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVOTH_QT=ON \
  -DRAVOTH_TESTS=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
