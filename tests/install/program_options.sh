#!/bin/sh
# tempovaro --help and --version answer and exit 0 without a display, where
# starting the program would fail or wait for a window forever.
#   program_options.sh TEMPOVARO
set -eu
program=$1
status=0
for option in --help -h --version; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout 20 "$program" "$option" 2>&1) || {
    echo "$option: exit status $?: $out"; status=1; continue; }
  case $option in
    --version) expected="tempovaro [0-9]" ;;
    *) expected="--version" ;;
  esac
  printf '%s\n' "$out" | grep -q -e "$expected" || { echo "$option printed: $out"; status=1; }
done
exit $status
