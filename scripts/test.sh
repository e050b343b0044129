#!/usr/bin/env bash
# Builds and runs every test three times: a normal build, one under
# AddressSanitizer and UndefinedBehaviorSanitizer (leaks are errors there),
# and one under ThreadSanitizer, since page files are written by a thread of
# their own.
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
# A short fuzzing pass over the reader and inflation (clang's libFuzzer),
# seeded with the bundled sample.
if command -v clang++ >/dev/null 2>&1; then
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DRAVOTH_FUZZ=ON -DRAVOTH_QT=OFF -DRAVOTH_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-fuzz
  corpus=$(mktemp -d)
  mkdir -p "$corpus/document" "$corpus/inflate"
  { printf '\001'; cat data/sample.pdf; } >"$corpus/document/sample"
  { printf '\000'; cat data/sample.pdf; } >"$corpus/document/sample-no-outline"
  printf '\000\020\170\234\113\114\112\006\000\002\115\001\047' >"$corpus/inflate/abc"
  build-fuzz/fuzz_document -max_total_time="${FUZZ_SECONDS:-20}" -max_len=200000 -rss_limit_mb=4096 \
    "$corpus/document" 2>&1 | tail -n 1
  build-fuzz/fuzz_inflate -max_total_time="${FUZZ_SECONDS:-20}" "$corpus/inflate" 2>&1 | tail -n 1
  rm -rf "$corpus"
fi

run build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVOTH_QT=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build-asan -DCMAKE_BUILD_TYPE=Debug -DRAVOTH_SANITIZE=ON -DRAVOTH_QT=ON
TSAN_OPTIONS=halt_on_error=1 \
  run build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVOTH_QT=OFF \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread

# The Windows build, cross-compiled, with its tests under Wine; it compares
# its output on the sample with the Linux build's.
RAVOTH_REFERENCE_CLI=$PWD/build/ravoth-cli scripts/test-windows.sh
