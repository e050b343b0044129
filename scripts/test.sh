#!/usr/bin/env bash
# Builds and runs every test twice: a normal build, and one under
# AddressSanitizer and UndefinedBehaviorSanitizer (leaks are errors there).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
run() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DRAVOTH_WERROR=ON "$@" >/dev/null
  cmake --build "$dir"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}
run build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build-asan -DCMAKE_BUILD_TYPE=Debug -DRAVOTH_SANITIZE=ON
