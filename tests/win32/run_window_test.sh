#!/bin/sh
# Runs the window test under Wine on an X display (a virtual one from
# xvfb-run when none is set), in one locale:
#
#   run_window_test.sh EMULATOR WINDOW_DRIVER RAVOTH_EXE RAVOTH_CLI_EXE SAMPLE_PDF WORK_FOLDER LOCALE SWITCH LANGUAGE [progress|batch]
#
# The sample is copied into a folder and under a name that no one ANSI code
# page holds, and the files an extraction must give are made first, by the
# Linux build's ravoth-cli when RAVOTH_REFERENCE_CLI names it, else by
# ravoth-cli.exe. With "progress" the driver writes a long document into
# WORK_FOLDER and watches runs of it instead; with "batch" it checks the
# output choices and batches of documents there. The folder is removed after.
# Exits 77 (skipped) when there is neither a display nor xvfb-run, or the
# locale is not installed.
set -eu
if [ -z "${DISPLAY:-}" ]; then
  if command -v xvfb-run >/dev/null 2>&1; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$@"
  fi
  echo "no X display and no xvfb-run: skipped"
  exit 77
fi
emulator=$1 driver=$2 ravoth=$3 cli=$4 sample=$5 work=$6 locale=$7 switch=$8 language=$9
mode=${10:-}

if ! locale -a 2>/dev/null | grep -qix "$(echo "$locale" | sed 's/UTF-8/utf8/')"; then
  echo "locale $locale is not installed (localedef -i ja_JP -f UTF-8 ja_JP.UTF-8): skipped"
  exit 77
fi
export LC_ALL="$locale"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Without a window manager on the display, Wine waits two seconds for each
# top-level window it hides; unmanaged windows need no waiting.
$emulator reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true

if [ "$mode" = progress ] || [ "$mode" = batch ]; then
  rm -rf "$work"
  mkdir -p "$work"
  status=0
  $emulator "$driver" "--$mode" "$ravoth" "$switch" "$language" "$work" || status=$?
  # The document and its pages take a few hundred megabytes.
  [ $status -ne 0 ] || rm -rf "$work"
  exit $status
fi

# Code page 1252 lacks the folder's Japanese, 932 the name's "é" and "한".
folder="日本 テスト" pdf_name="été 한.pdf"
rm -rf "$work"
mkdir -p "$work/$folder" "$work/numbered" "$work/titles"
cp "$sample" "$work/$folder/$pdf_name"
cp "$sample" "$work/numbered/$pdf_name"
cp "$sample" "$work/titles/$pdf_name"

if [ -n "${RAVOTH_REFERENCE_CLI:-}" ]; then
  reference() { "$RAVOTH_REFERENCE_CLI" -q "$@"; }
else
  reference() { $emulator "$cli" -q "$@"; }
fi
reference "$work/numbered/$pdf_name"
reference -t "$work/titles/$pdf_name"

status=0
$emulator "$driver" "$ravoth" "$switch" "$language" "$work/$folder/$pdf_name" \
  "$work/numbered" "$work/titles" || status=$?
exit $status
