#!/bin/sh
# Extracts the sample with ravoth-cli.exe under Wine and with the Linux
# build's ravoth-cli (RAVOTH_REFERENCE_CLI), with numbered names and with
# outline titles as names, in code page 1252 (C.UTF-8) and, when the locale
# is there, 932 (ja_JP.UTF-8), and compares the folders name by name and
# byte by byte.
#
#   compare_cli.sh EMULATOR RAVOTH_CLI_EXE SAMPLE_PDF WORK_FOLDER
#
# Exits 77 (skipped) without RAVOTH_REFERENCE_CLI.
set -eu
emulator=$1 cli=$2 sample=$3 work=$4
if [ -z "${RAVOTH_REFERENCE_CLI:-}" ]; then
  echo "RAVOTH_REFERENCE_CLI does not name the Linux build's ravoth-cli: skipped"
  exit 77
fi
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

version=$($emulator "$cli" --version | tr -d '\r')
[ "$version" = "ravoth-cli 0.84" ] || { echo "FAIL --version printed '$version'"; exit 1; }

failures=0 compared=0
run() {  # locale folder pdf-name [options]
  locale=$1 folder=$2 name=$3; shift 3
  case_dir="$work/$locale$*"
  rm -rf "$case_dir"
  mkdir -p "$case_dir/windows/$folder" "$case_dir/linux/$folder"
  cp "$sample" "$case_dir/windows/$folder/$name"
  cp "$sample" "$case_dir/linux/$folder/$name"
  status=0
  LC_ALL=$locale $emulator "$cli" -q "$@" "$case_dir/windows/$folder/$name" || status=$?
  [ $status -eq 0 ] || { echo "FAIL ravoth-cli.exe $* exited $status in $locale"; failures=$((failures + 1)); }
  LC_ALL=C.UTF-8 "$RAVOTH_REFERENCE_CLI" -q "$@" "$case_dir/linux/$folder/$name"
  if (cd "$case_dir/linux/$folder" && ls) > "$case_dir/linux.list" &&
     (cd "$case_dir/windows/$folder" && ls) > "$case_dir/windows.list" &&
     cmp -s "$case_dir/linux.list" "$case_dir/windows.list"; then
    same=yes
    while IFS= read -r file; do
      compared=$((compared + 1))
      cmp -s "$case_dir/linux/$folder/$file" "$case_dir/windows/$folder/$file" ||
        { echo "FAIL $file differs ($locale $*)"; same=no; }
    done < "$case_dir/linux.list"
    [ $same = yes ] && echo "ok   $locale ${*:-numbered}: $(tr '\n' ',' < "$case_dir/linux.list")" ||
      failures=$((failures + 1))
  else
    echo "FAIL $locale $*: names differ"
    diff "$case_dir/linux.list" "$case_dir/windows.list" || true
    failures=$((failures + 1))
  fi
}

run C.UTF-8 café sample.pdf
run C.UTF-8 café sample.pdf -t
if locale -a 2>/dev/null | grep -qix ja_JP.utf8; then
  run ja_JP.UTF-8 ｿ 表.pdf
  run ja_JP.UTF-8 ｿ 表.pdf -t
else
  echo "locale ja_JP.UTF-8 not installed: code page 932 not compared"
fi
echo "$compared files compared; $failures cases failed"
[ $failures -eq 0 ]
