#!/bin/sh
# Extracts the sample with ravoth-cli.exe under Wine and with the Linux
# build's ravoth-cli (RAVOTH_REFERENCE_CLI), with numbered names and with
# outline titles as names, in code page 1252 (C.UTF-8) and, when the locale
# is there, 932 (ja_JP.UTF-8), from a folder and under a name that no one
# code page holds, and compares the folders name by name and byte by byte,
# and the reports (-v, Japanese messages) sent to a file byte for byte: UTF-8
# on both sides. Where the script command gives a terminal, the Japanese
# message must also reach Wine's console whole.
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

# Code page 1252 lacks the folder's Japanese, 932 the name's "é".
folder="日本 テスト" name="été.pdf"
failures=0 compared=0
run() {  # locale [options]
  locale=$1; shift
  case_dir="$work/$locale$*"
  rm -rf "$case_dir"
  mkdir -p "$case_dir/windows/$folder" "$case_dir/linux/$folder"
  cp "$sample" "$case_dir/windows/$folder/$name"
  cp "$sample" "$case_dir/linux/$folder/$name"
  # Relative paths, so that both report the same names.
  status=0
  (cd "$case_dir/windows" &&
    LC_ALL=$locale $emulator "$cli" -v --lang ja "$@" "$folder/$name" > "$case_dir/windows.out") || status=$?
  [ $status -eq 0 ] || { echo "FAIL ravoth-cli.exe $* exited $status in $locale"; failures=$((failures + 1)); }
  (cd "$case_dir/linux" &&
    LC_ALL=C.UTF-8 "$RAVOTH_REFERENCE_CLI" -v --lang ja "$@" "$folder/$name" > "$case_dir/linux.out")
  if ! tr -d '\r' < "$case_dir/windows.out" | cmp -s - "$case_dir/linux.out"; then
    echo "FAIL $locale $*: reports differ"
    tr -d '\r' < "$case_dir/windows.out" | diff "$case_dir/linux.out" - || true
    failures=$((failures + 1))
  fi
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

# Wine draws its console on the terminal with escape sequences; without
# them the program wrote to no console and nothing was tested.
console() {  # locale
  locale=$1
  case_dir="$work/console-$locale"
  rm -rf "$case_dir"
  mkdir -p "$case_dir/$folder"
  cp "$sample" "$case_dir/$folder/$name"
  # Only the outcome goes to the console: stderr, where a progress line
  # would be drawn, is sent elsewhere.
  (cd "$case_dir" && LC_ALL=$locale script -qec "$emulator '$cli' --lang ja '$folder/$name' 2>/dev/null" /dev/null) \
    > "$case_dir/terminal" 2>&1 || true
  text=$(sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$case_dir/terminal" | tr -d '\r')
  if ! grep -q "$(printf '\033')" "$case_dir/terminal"; then
    echo "FAIL $locale: no console on the terminal"
    failures=$((failures + 1))
  elif [ "$text" != "完了" ]; then
    echo "FAIL $locale: the console showed '$text'"
    failures=$((failures + 1))
  else
    echo "ok   $locale: the console shows 完了"
  fi
}

run C.UTF-8
run C.UTF-8 -t
if locale -a 2>/dev/null | grep -qix ja_JP.utf8; then
  run ja_JP.UTF-8
  run ja_JP.UTF-8 -t
else
  echo "locale ja_JP.UTF-8 not installed: code page 932 not compared"
fi
if command -v script >/dev/null 2>&1; then
  console C.UTF-8
  if locale -a 2>/dev/null | grep -qix ja_JP.utf8; then console ja_JP.UTF-8; fi
else
  echo "no script command: the console is not checked"
fi
echo "$compared files compared; $failures cases failed"
[ $failures -eq 0 ]
