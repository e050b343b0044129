#!/usr/bin/env bash
# Runs every test: a short fuzzing pass, then the tests of three builds (a
# normal one, one under AddressSanitizer and UndefinedBehaviorSanitizer with
# leaks as errors, and one under ThreadSanitizer, since page files are written
# by a thread of their own and the window runs the extraction on one), the
# Debian package made from the normal build, and the Windows build under Wine.
#
#   FUZZ_SECONDS=N scripts/test.sh    fuzz each target N seconds (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests
jobs=$(nproc)
run() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DRAVOTH_WERROR=ON "$@" >/dev/null
  cmake --build "$dir"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The fuzzing pass: every libFuzzer target the build makes, as many at once as
# there are cores, each from a copy of its seeds in fuzz/corpus/<target>/ (a
# copy, since libFuzzer adds what it finds to its corpus folder). A crash, a
# slow input, a leak or running out of memory fails the run; the input that did
# it is kept as build-fuzz/artifacts/<target>-*. An input may take 10 seconds:
# the reading budget lets any document, however small, cost some 16 MB of
# scanning, which takes a second or more with the fuzzers' instrumentation on
# a busy machine, while a loop the budget missed takes for ever.
fuzz_target() {
  local target=$1 name corpus
  name=$(basename "$target")
  corpus=$scratch/fuzz/$name
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && cp -R "fuzz/corpus/$name/." "$corpus/"
  # Seeds made from the bundled sample, so they follow it when it changes.
  case $name in
    fuzz_document)
      { printf '\001'; cat data/sample.pdf; } >"$corpus/sample"
      { printf '\000'; cat data/sample.pdf; } >"$corpus/sample-no-outline"
      { printf '\013'; cat data/sample.pdf; } >"$corpus/sample-png-archive"
      { printf '\025'; cat data/sample.pdf; } >"$corpus/sample-tiff-listed" ;;
    fuzz_inflate)
      printf '\000\020\170\234\113\114\112\006\000\002\115\001\047' >"$corpus/abc" ;;
  esac
  local status=0
  "$target" -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 -max_len=200000 -rss_limit_mb=4096 \
    -artifact_prefix="build-fuzz/artifacts/$name-" "$corpus" >"$scratch/$name.log" 2>&1 || status=$?
  echo "$status" >"$scratch/$name.status"
}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DRAVOTH_FUZZ=ON -DRAVOTH_QT=OFF \
  -DRAVOTH_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz
mkdir -p build-fuzz/artifacts "$scratch/fuzz"
fuzz_targets=()
for target in build-fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  fuzz_targets+=("$target")
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  fuzz_target "$target" &
done
wait
[ ${#fuzz_targets[@]} -gt 0 ] || { echo "build-fuzz made no fuzz_* target" >&2; exit 1; }
fuzz_failed=0
for target in "${fuzz_targets[@]}"; do
  name=$(basename "$target")
  if [ "$(cat "$scratch/$name.status")" != 0 ]; then
    echo "$name: failed (exit status $(cat "$scratch/$name.status")):" >&2
    tail -n 40 "$scratch/$name.log" | sed "s/^/$name: /" >&2
    fuzz_failed=1
  else
    echo "$name: $(tail -n 1 "$scratch/$name.log")"
  fi
done
[ $fuzz_failed -eq 0 ]

run build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVOTH_QT=ON -DRAVOTH_TESTS=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVOTH_SANITIZE=ON -DRAVOTH_QT=ON
# With the window's tests; app/qt/CMakeLists.txt says which calls of Qt's own
# libraries, which are not instrumented, the checker sets aside.
TSAN_OPTIONS=halt_on_error=1 \
  run build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVOTH_QT=ON \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread

# The Debian package of the normal build: unpacked into a scratch root, its
# ravoth-cli extracts the sample; its Depends name Qt, ICU, zlib and the font;
# lintian finds no error.
scripts/check-package.sh build

# The Windows build, cross-compiled, with its tests under Wine; it compares
# its output on the sample with the Linux build's. Then its zip.
RAVOTH_REFERENCE_CLI=$PWD/build/ravoth-cli scripts/test-windows.sh
scripts/package-windows.sh
